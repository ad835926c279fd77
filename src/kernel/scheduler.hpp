#pragma once
// The task queue: one ring of 8 deferred operations for the whole process.
// A task carries no mote id; it runs as whatever mote is current, so the
// driver drains the ring after every event and after every boot.

#include <array>
#include <cstdint>

#include "kernel/vex_types.hpp"

using task_t = void (*)();

struct VEXH_sched_entry_T {
  task_t tp = nullptr;
};

constexpr uint8_t VEXH_MAX_TASKS = 8;
constexpr uint8_t VEXH_TASK_BITMASK = 7;

extern std::array<VEXH_sched_entry_T, VEXH_MAX_TASKS> VEXH_queue;
extern uint8_t VEXH_sched_full;  // oldest posted task, next to run
extern uint8_t VEXH_sched_free;  // next free slot

// Queues a task; FAIL when all 8 slots are taken.
result_t VEX_post(task_t task);
// Runs the oldest task; false when there was none.
bool VEXH_run_next_task();
// Runs tasks until the ring is empty, including tasks they post. Inline
// test first: after most events the ring is empty.
void VEXH_run_waiting_tasks();
inline void VEXH_run_all_tasks() {
  if (VEXH_queue[VEXH_sched_full].tp != nullptr) VEXH_run_waiting_tasks();
}
// Empties the ring (used by tests).
void VEXH_sched_init();

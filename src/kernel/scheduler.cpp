#include "kernel/scheduler.hpp"

#include "kernel/atomic.hpp"

std::array<VEXH_sched_entry_T, VEXH_MAX_TASKS> VEXH_queue{};
uint8_t VEXH_sched_full = 0;
uint8_t VEXH_sched_free = 0;

result_t VEX_post(task_t task) {
  uint8_t atomic = __quil_atomic_start();
  uint8_t slot = VEXH_sched_free;
  result_t result = FAIL;
  if (VEXH_queue[slot].tp == nullptr) {
    VEXH_queue[slot].tp = task;
    VEXH_sched_free = (slot + 1) & VEXH_TASK_BITMASK;
    result = SUCCESS;
  }
  __quil_atomic_end(atomic);
  return result;
}

bool VEXH_run_next_task() {
  uint8_t atomic = __quil_atomic_start();
  uint8_t slot = VEXH_sched_full;
  task_t task = VEXH_queue[slot].tp;
  if (task == nullptr) {
    __quil_atomic_sleep();
    __quil_atomic_end(atomic);
    return false;
  }
  VEXH_queue[slot].tp = nullptr;
  VEXH_sched_full = (slot + 1) & VEXH_TASK_BITMASK;
  __quil_atomic_end(atomic);
  task();
  return true;
}

void VEXH_run_waiting_tasks() {
  while (VEXH_run_next_task()) {
  }
}

void VEXH_sched_init() {
  VEXH_queue.fill(VEXH_sched_entry_T{});
  VEXH_sched_full = 0;
  VEXH_sched_free = 0;
}

// An idle network: every mote's channel monitor samples the air every 200
// ticks, 20,000 times per virtual second, and that path must not allocate
// (1000 motes take 20 million samples per virtual second). This file
// replaces the global operator new, so it is a test program of its own.

#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <new>

#include "kernel/dbg.hpp"
#include "kernel/mote_lifecycle.hpp"
#include "kernel/pacing.hpp"
#include "kernel/scheduler.hpp"
#include "kernel/vex_state.hpp"
#include "radio/connectivity.hpp"
#include "radio/orla_high_speed_radio_m.hpp"

namespace {
std::atomic<long> allocations{0};

void boot_idle_network(int motes) {
  vex_state.reset();
  VEXH_sched_init();
  dbg_set(DBG_BOOT);  // nothing on the sampling path is printed
  set_app_entry_points({OrlaHighSpeedRadioM::Control_init, OrlaHighSpeedRadioM::Control_start,
                        OrlaHighSpeedRadioM::Control_stop});
  vex_state.num_nodes = static_cast<int16_t>(motes);
  create_simple_model();
  radio_model_init();
  testing::internal::CaptureStdout();
  for (int m = 0; m < motes; ++m) brelo_start_mote(static_cast<uint16_t>(m));
  testing::internal::GetCapturedStdout();
  set_rate_value(1e12);
  rate_checkpoint();
}

// Runs every event before `until`; returns how many ran.
long run_events_before(vex_time_t until) {
  long events = 0;
  while (vex_state.queue.peek_event_time() < until) {
    VEXH_run_all_tasks();
    vex_state.queue.handle_next_event(vex_state);
    rate_based_wait();
    ++events;
  }
  return events;
}
}  // namespace

void* operator new(std::size_t size) {
  allocations.fetch_add(1, std::memory_order_relaxed);
  if (void* p = std::malloc(size == 0 ? 1 : size)) return p;
  throw std::bad_alloc();
}
void operator delete(void* p) noexcept { std::free(p); }
void operator delete(void* p, std::size_t) noexcept { std::free(p); }

TEST(IdleNetwork, EveryMoteSamplesTwentyThousandTimesPerSecondWithoutAllocating) {
  constexpr int motes = 50;
  boot_idle_network(motes);
  // Booted at 0: samples fall at 200, 400, ... so the first second holds
  // 19,999 per mote and every later one 20,000.
  EXPECT_EQ(run_events_before(TICKS_PER_SECOND), motes * 19999L);
  long before = allocations.load();
  EXPECT_EQ(run_events_before(2 * TICKS_PER_SECOND), motes * 20000L);
  EXPECT_EQ(allocations.load() - before, 0);
  dbg_set(DBG_NONE);
  vex_state.reset();
}

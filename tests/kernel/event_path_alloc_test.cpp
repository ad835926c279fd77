// Counts heap allocations around the event path: a re-armed periodic event
// must run without allocating, or 1000 idle motes would allocate 20 million
// times per virtual second. Allocations are counted through a replaced
// global operator new, so this is a test program of its own.

#include <gtest/gtest.h>

#include <cstdlib>
#include <memory>

#include "kernel/dbg.hpp"
#include "kernel/event_queue.hpp"
#include "kernel/pacing.hpp"
#include "kernel/scheduler.hpp"
#include "kernel/vex_state.hpp"
#include "kernel/world.hpp"
#include "support/alloc_counter.hpp"

namespace {

void idle_task() {}

struct SampleEvent final : event_t {
  void handle(EventPtr self, VEX_state_t& state) override {
    dbg(DBG_RADIO, "sample at %lld\n", static_cast<long long>(state.vex_time.load()));
    VEX_post(idle_task);
    self->time += 200;
    state.queue.insert_event(std::move(self));
  }
};
}  // namespace

TEST(EventPath, RunningAReArmedEventDoesNotAllocate) {
  reset_world();
  dbg_set(DBG_BOOT);  // the handler's line is off, as on a quiet run
  vex_state.num_nodes = 100;
  for (int m = 0; m < 100; ++m) {
    vex_state.moteOn[m] = true;
    auto event = std::make_unique<SampleEvent>();
    event->mote = m;
    event->time = m;
    vex_state.queue.insert_event(std::move(event));
  }
  set_rate_value(1e12);
  rate_checkpoint();
  long before = support::allocation_count();
  for (int i = 0; i < 100000; ++i) {
    VEXH_run_all_tasks();
    vex_state.queue.handle_next_event(vex_state);
    rate_based_wait();
  }
  EXPECT_EQ(support::allocation_count() - before, 0);
  reset_world();
}

// Counts heap allocations around the event path: a re-armed periodic event
// must run without allocating, or 1000 idle motes would allocate 20 million
// times per virtual second. This file replaces the global operator new, so
// it is a test program of its own.

#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <memory>
#include <new>

#include "kernel/dbg.hpp"
#include "kernel/event_queue.hpp"
#include "kernel/pacing.hpp"
#include "kernel/scheduler.hpp"
#include "kernel/vex_state.hpp"

namespace {
std::atomic<long> allocations{0};

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

void* operator new(std::size_t size) {
  allocations.fetch_add(1, std::memory_order_relaxed);
  if (void* p = std::malloc(size == 0 ? 1 : size)) return p;
  throw std::bad_alloc();
}
// The replaced new and delete are a matching malloc/free pair; GCC, seeing
// both inlined under AddressSanitizer, takes free for a mismatch.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wmismatched-new-delete"
void operator delete(void* p) noexcept { std::free(p); }
void operator delete(void* p, std::size_t) noexcept { std::free(p); }
#pragma GCC diagnostic pop

TEST(EventPath, RunningAReArmedEventDoesNotAllocate) {
  vex_state.reset();
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
  long before = allocations.load();
  for (int i = 0; i < 100000; ++i) {
    VEXH_run_all_tasks();
    vex_state.queue.handle_next_event(vex_state);
    rate_based_wait();
  }
  EXPECT_EQ(allocations.load() - before, 0);
  vex_state.reset();
}

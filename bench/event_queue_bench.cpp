// The event queue under the simulator's usual load: a steady number of
// pending periodic events, each popped and re-armed a little later (the
// "hold" pattern of the channel monitors and clocks).

#include <benchmark/benchmark.h>

#include <cstdlib>
#include <memory>

#include "kernel/event_queue.hpp"

namespace {
struct IdleEvent final : event_t {
  void handle(EventPtr, VEX_state_t&) override {}
};

void BM_QueueInsertPop(benchmark::State& state) {
  const int pending = static_cast<int>(state.range(0));
  event_queue_t queue;
  queue.init(0);  // this thread runs the simulation: no inbox, no lock
  std::srand(1);
  for (int i = 0; i < pending; ++i) {
    auto event = std::make_unique<IdleEvent>();
    event->time = std::rand() % 200;
    queue.insert_event(std::move(event));
  }
  for (auto _ : state) {
    EventPtr event = queue.pop_event();
    event->time += 200;
    queue.insert_event(std::move(event));
  }
  state.SetItemsProcessed(state.iterations());
}
// The largest size is beyond the first-level cache, where the sift-down's
// early loads of the grandchildren pay off.
BENCHMARK(BM_QueueInsertPop)->Arg(2000)->Arg(20000)->Arg(200000);
}  // namespace

BENCHMARK_MAIN();

// An idle network of 100 motes: every mote's channel monitor samples the air
// every 200 ticks and nothing else happens on the radio, the load that sets
// the pace of a large quiet simulation. Reports events per second of real
// time (items) and virtual seconds simulated.

#include <benchmark/benchmark.h>

#include "app/wiring.hpp"
#include "kernel/dbg.hpp"
#include "kernel/driver.hpp"
#include "kernel/mote_lifecycle.hpp"
#include "kernel/pacing.hpp"
#include "kernel/scheduler.hpp"
#include "kernel/vex_state.hpp"
#include "radio/connectivity.hpp"
#include "radio/orla_high_speed_radio_m.hpp"

namespace {
constexpr int kMotes = 100;

void boot(bool whole_graph) {
  vex_state.reset();
  VEXH_sched_init();
  dbg_set(DBG_NONE);
  if (whole_graph) {
    wire_components();
  } else {
    set_app_entry_points({OrlaHighSpeedRadioM::Control_init, OrlaHighSpeedRadioM::Control_start,
                          OrlaHighSpeedRadioM::Control_stop});
  }
  vex_state.num_nodes = kMotes;
  create_simple_model();
  radio_model_init();
  for (int m = 0; m < kMotes; ++m) brelo_start_mote(static_cast<uint16_t>(m));
  set_rate_value(1e12);
  rate_checkpoint();
}

// Runs the main loop one virtual tenth of a second per iteration.
void run_idle_network(benchmark::State& state, bool whole_graph) {
  boot(whole_graph);
  const vex_time_t step = TICKS_PER_SECOND / 10;
  long events = 0;
  for (auto _ : state) {
    const vex_time_t start = vex_state.vex_time;
    while (vex_state.vex_time < start + step) {
      VEXH_run_all_tasks();
      vex_state.queue.handle_next_event(vex_state);
      rate_based_wait();
      ++events;
    }
  }
  state.SetItemsProcessed(events);
  state.counters["virtual_s"] = benchmark::Counter(static_cast<double>(state.iterations()) / 10.0,
                                                   benchmark::Counter::kIsRate);
  vex_state.reset();
}

void BM_IdleRadioNetwork(benchmark::State& state) { run_idle_network(state, false); }
void BM_IdleNetworkWholeGraph(benchmark::State& state) { run_idle_network(state, true); }

BENCHMARK(BM_IdleRadioNetwork)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_IdleNetworkWholeGraph)->Unit(benchmark::kMillisecond);
}  // namespace

BENCHMARK_MAIN();

// An idle network: every mote's channel monitor samples the air every 200
// ticks, 20,000 times per virtual second, and that path must not allocate
// (1000 motes take 20 million samples per virtual second). This file
// counts allocations through a replaced global operator new, so it is a
// test program of its own.

#include <gtest/gtest.h>

#include <cstdlib>
#include <vector>

#include "kernel/dbg.hpp"
#include "kernel/mote_lifecycle.hpp"
#include "kernel/pacing.hpp"
#include "kernel/scheduler.hpp"
#include "kernel/vex_state.hpp"
#include "kernel/world.hpp"
#include "devices/random_lfsr.hpp"
#include "radio/channel_mon_c.hpp"
#include "radio/connectivity.hpp"
#include "radio/orla_high_speed_radio_m.hpp"
#include "support/alloc_counter.hpp"
#include "support/run.hpp"

namespace {

void boot_idle_network(int motes) {
  reset_world();
  dbg_set(DBG_BOOT);  // nothing on the sampling path is printed
  set_app_entry_points({OrlaHighSpeedRadioM::Control_init, OrlaHighSpeedRadioM::Control_start,
                        OrlaHighSpeedRadioM::Control_stop});
  vex_state.num_nodes = static_cast<int16_t>(motes);
  create_simple_model();
  radio_model_init();
  testing::internal::CaptureStdout();
  for (int m = 0; m < motes; ++m) brelo_start_mote(static_cast<uint16_t>(m));
  testing::internal::GetCapturedStdout();
  support::unpaced();
}

// Runs every event before `until`; returns how many ran.
long run_events_before(vex_time_t until) {
  long events = 0;
  for (vex_time_t next = vex_state.queue.peek_event_time(); next != -1 && next < until;
       next = vex_state.queue.peek_event_time()) {
    VEXH_run_all_tasks();
    vex_state.queue.handle_next_event(vex_state);
    rate_based_wait();
    ++events;
  }
  return events;
}
}  // namespace

TEST(IdleNetwork, EveryMoteSamplesTwentyThousandTimesPerSecondWithoutAllocating) {
  constexpr int motes = 50;
  boot_idle_network(motes);
  // Booted at 0: samples fall at 200, 400, ... so the first second holds
  // 19,999 per mote and every later one 20,000.
  EXPECT_EQ(run_events_before(TICKS_PER_SECOND), motes * 19999L);
  long before = support::allocation_count();
  EXPECT_EQ(run_events_before(2 * TICKS_PER_SECOND), motes * 20000L);
  EXPECT_EQ(support::allocation_count() - before, 0);
  dbg_set(DBG_NONE);
  reset_world();
}

namespace {
struct MonitorState {
  ChannelMonC::Vars vars;
  uint16_t random_state;
  bool operator==(const MonitorState& o) const {
    return vars.CM_search[0] == o.vars.CM_search[0] && vars.CM_search[1] == o.vars.CM_search[1] &&
           vars.CM_state == o.vars.CM_state && vars.CM_lastBit == o.vars.CM_lastBit &&
           vars.CM_startSymBits == o.vars.CM_startSymBits &&
           vars.CM_waiting == o.vars.CM_waiting && random_state == o.random_state;
  }
};

// Boots an idle network, lets every third mote ask for an idle channel at
// 0.3 s (its countdown and idle check then run while others sleep), and
// returns each monitor's state at 1.5 s, with the events it took.
std::vector<MonitorState> idle_network_states(bool lazy, long* events) {
  constexpr int motes = 12;
  ChannelMonSleep::enable(lazy);
  boot_idle_network(motes);
  *events = run_events_before(3 * TICKS_PER_SECOND / 10);
  vex_state.vex_time = 3 * TICKS_PER_SECOND / 10 - 1;
  for (int m = 0; m < motes; m += 3) {
    vex_state.current_node = static_cast<int16_t>(m);
    ChannelMonC::ChannelMon_macDelay();
  }
  *events += run_events_before(3 * TICKS_PER_SECOND / 2);
  vex_state.vex_time = 3 * TICKS_PER_SECOND / 2 - 1;
  ChannelMonSleep::wake_sleeping_monitors();  // applies the skipped samples
  std::vector<MonitorState> states;
  for (int m = 0; m < motes; ++m) {
    states.push_back({ChannelMonC::vars_of(m), RandomLFSR::vars_of(m).shiftReg});
  }
  ChannelMonSleep::enable(false);
  reset_world();
  return states;
}
}  // namespace

TEST(IdleNetwork, SleepingMonitorsEndInTheStateOfExactSampling) {
  long exact_events = 0;
  long lazy_events = 0;
  std::vector<MonitorState> exact = idle_network_states(false, &exact_events);
  std::vector<MonitorState> lazy = idle_network_states(true, &lazy_events);
  EXPECT_TRUE(exact == lazy);
  // The idle checks ran: their monitors stopped after signalling.
  EXPECT_EQ(exact[0].vars.CM_state, ChannelMonC::DISABLED_STATE);
  EXPECT_EQ(exact[1].vars.CM_state, ChannelMonC::IDLE_STATE);
  EXPECT_LT(lazy_events * 100, exact_events);
}

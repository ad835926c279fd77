#include "kernel/mote_lifecycle.hpp"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "kernel/per_mote.hpp"
#include "kernel/scheduler.hpp"
#include "support/world_test.hpp"

namespace {
struct Counters {
  int value;
  std::vector<int> owned;  // proves owned memory goes with a reset
};
PerMote<Counters> counters;

std::vector<std::string> calls;
int value_seen_by_init = -1;

void note_task() { calls.push_back("task@" + std::to_string(vex_state.current_node.load())); }
result_t app_init() {
  value_seen_by_init = counters().value;
  calls.push_back("init");
  VEX_post(note_task);
  return SUCCESS;
}
result_t app_start() {
  calls.push_back("start");
  counters().value = 99;
  counters().owned.assign(100, 1);
  return SUCCESS;
}
result_t app_stop() {
  calls.push_back("stop");
  return SUCCESS;
}

class MoteLifecycle : public WorldTest {
 protected:
  void SetUp() override {
    WorldTest::SetUp();
    calls.clear();
    value_seen_by_init = -1;
    vex_state.num_nodes = 5;
    set_app_entry_points({app_init, app_start, app_stop});
  }
};
}  // namespace

TEST_F(MoteLifecycle, StartRunsInitStartAndTheirTasksBeforeReturning) {
  vex_state.vex_time = 777;
  brelo_start_mote(3);
  EXPECT_EQ(calls, (std::vector<std::string>{"init", "start", "task@3"}));
  EXPECT_TRUE(vex_state.moteOn[3]);
  EXPECT_EQ(vex_state.current_node, 3);
  EXPECT_EQ(VEX_LOCAL_ADDRESS, 3);
  EXPECT_EQ(vex_state.node_state[3].time, 777);
  EXPECT_EQ(vex_state.node_state[3].pot_setting, 73);
}

TEST_F(MoteLifecycle, StartingAMoteThatIsOnDoesNothing) {
  brelo_start_mote(1);
  calls.clear();
  brelo_start_mote(1);
  EXPECT_TRUE(calls.empty());
  EXPECT_EQ(counters.of(1).value, 99);  // not reset
}

TEST_F(MoteLifecycle, MotesBeyondTheCountAreIgnored) {
  brelo_start_mote(5);
  brelo_start_mote(60000);
  brelo_stop_mote(60000);
  EXPECT_TRUE(calls.empty());
  EXPECT_FALSE(vex_state.moteOn[5]);
}

TEST_F(MoteLifecycle, RestartZeroesComponentStateBeforeInit) {
  brelo_start_mote(2);
  EXPECT_EQ(value_seen_by_init, 0);
  EXPECT_EQ(counters.of(2).value, 99);
  vex_state.vex_time = 1000;
  brelo_stop_mote(2);
  EXPECT_FALSE(vex_state.moteOn[2]);
  EXPECT_EQ(vex_state.node_state[2].time, 1000);
  EXPECT_EQ(counters.of(2).value, 99);  // a stopped mote keeps its state until restarted
  brelo_start_mote(2);
  EXPECT_EQ(value_seen_by_init, 0);
  EXPECT_EQ(calls, (std::vector<std::string>{"init", "start", "task@2", "stop", "init", "start",
                                             "task@2"}));
}

TEST_F(MoteLifecycle, ResetLeavesOtherMotesAlone) {
  brelo_start_mote(0);
  brelo_start_mote(1);
  __quil_brelo_initialise(0);
  EXPECT_EQ(counters.of(0).value, 0);
  EXPECT_TRUE(counters.of(0).owned.empty());
  EXPECT_EQ(counters.of(1).value, 99);
}

TEST_F(MoteLifecycle, StoppingBeforeBootCancelsTheBoot) {
  dbg_set(DBG_BOOT);
  vex_state.queue.insert_event(std::make_unique<BootEvent>(4, 4000000));
  brelo_stop_mote(4);
  EXPECT_TRUE(calls.empty());  // it was off: nothing to stop
  testing::internal::CaptureStdout();
  vex_state.queue.handle_next_event(vex_state);
  EXPECT_EQ(testing::internal::GetCapturedStdout(),
            "4: BOOT: Boot cancelled at time 0:0:1.00000000 since mote turned off.\n");
  EXPECT_FALSE(vex_state.moteOn[4]);
  brelo_start_mote(4);  // a direct start still works
  EXPECT_TRUE(vex_state.moteOn[4]);
}

TEST_F(MoteLifecycle, BootEventsRunForMotesThatAreOffAndStartThem) {
  dbg_set(DBG_BOOT);
  vex_state.queue.insert_event(std::make_unique<BootEvent>(2, 3000000));
  testing::internal::CaptureStdout();
  vex_state.queue.handle_next_event(vex_state);
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "2: BOOT: Mote booting at time 0:0:0.75000000.\n");
  EXPECT_TRUE(vex_state.moteOn[2]);
  EXPECT_EQ(vex_state.node_state[2].time, 3000000);
}

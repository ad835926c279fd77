#include "kernel/timer_m.hpp"

#include <gtest/gtest.h>

#include <vector>

#include "kernel/clock.hpp"
#include "kernel/driver.hpp"
#include "kernel/pacing.hpp"
#include "kernel/per_mote.hpp"
#include "support/run.hpp"
#include "support/world_test.hpp"

namespace {
constexpr int count = 3906;  // ticks per clock count at the timers' scale
std::vector<std::pair<int, vex_time_t>> fired;

template <int Id>
result_t note_fired() {
  fired.emplace_back(Id, vex_state.vex_time.load());
  return SUCCESS;
}
void filler_task() {}

class Timers : public WorldTest {
 protected:
  void SetUp() override {
    WorldTest::SetUp();
    fired.clear();
    clock_emulation.fill(ClockEmulation{});
    vex_state.num_nodes = 2;
    vex_state.moteOn[0] = true;
    vex_state.current_node = 0;
    __quil_brelo_initialise(0);
    TimerM::set_fired_handler(0, note_fired<0>);
    TimerM::set_fired_handler(1, note_fired<1>);
    TimerM::set_fired_handler(2, note_fired<2>);
    support::unpaced();
    TimerM::StdControl_init();
  }
  void TearDown() override {
    for (uint8_t id = 0; id < 3; ++id) TimerM::set_fired_handler(id, nullptr);
    WorldTest::TearDown();
  }
  void run_until(vex_time_t t) { support::run_loop_until(t); }
  std::vector<vex_time_t> fire_times(int id) {
    std::vector<vex_time_t> times;
    for (auto& [which, when] : fired)
      if (which == id) times.push_back(when);
    return times;
  }
};
}  // namespace

TEST_F(Timers, StartChecksIdTypeAndRepeatInterval) {
  EXPECT_EQ(TimerM::Timer_start(0, TIMER_REPEAT, 2), FAIL);
  EXPECT_EQ(TimerM::Timer_start(0, TIMER_REPEAT, 3), SUCCESS);
  EXPECT_EQ(TimerM::Timer_start(1, TIMER_ONE_SHOT, 0), SUCCESS);
  EXPECT_EQ(TimerM::Timer_start(11, TIMER_ONE_SHOT, 50), FAIL);
  EXPECT_EQ(TimerM::Timer_start(2, 2, 50), FAIL);
}

TEST_F(Timers, StoppingATimerThatIsNotRunningFails) {
  EXPECT_EQ(TimerM::Timer_stop(4), FAIL);
  EXPECT_EQ(TimerM::Timer_start(4, TIMER_REPEAT, 100), SUCCESS);
  EXPECT_EQ(TimerM::Timer_stop(4), SUCCESS);
  EXPECT_EQ(TimerM::Timer_stop(4), FAIL);
  EXPECT_EQ(TimerM::vars().setIntervalFlag, 1);
  EXPECT_EQ(TimerM::Timer_stop(11), FAIL);
}

TEST_F(Timers, WithNoTimerTheClockTicksEvery231Counts) {
  EXPECT_EQ(vex_state.queue.peek_event_time(), 231 * count);
  run_until(3 * 231 * count + 1);
  EXPECT_EQ(vex_state.queue.peek_event_time(), 4 * 231 * count);
  EXPECT_TRUE(fired.empty());
}

TEST_F(Timers, AOneShotOfZeroFiresAtTheNextClockInterrupt) {
  vex_state.vex_time = 1000;
  EXPECT_EQ(TimerM::Timer_start(1, TIMER_ONE_SHOT, 0), SUCCESS);
  // The counter is 0, so the new compare value is 0 + 1 counts from the last tick.
  EXPECT_EQ(vex_state.queue.peek_event_time(), 1000 + count);
  run_until(2 * 231 * count);
  EXPECT_EQ(fire_times(1), (std::vector<vex_time_t>{1000 + count}));
}

TEST_F(Timers, AShorterTimerReprogramsTheClockAtOnce) {
  // 10 counts after a tick at 0: the next interrupt comes at 11 counts,
  // and the superseded tick at 231 counts is discarded unheard.
  EXPECT_EQ(TimerM::Timer_start(0, TIMER_REPEAT, 10), SUCCESS);
  EXPECT_EQ(TimerM::vars().mInterval, 10);
  EXPECT_EQ(vex_state.queue.peek_event_time(), 11 * count);
  run_until(231 * count);
  std::vector<vex_time_t> times = fire_times(0);
  ASSERT_GE(times.size(), 3u);
  EXPECT_EQ(times[0], 11 * count);
  for (std::size_t i = 1; i < times.size(); ++i) EXPECT_EQ(times[i] - times[i - 1], 10 * count);
}

TEST_F(Timers, AOneSecondTimerFiresCloseToEverySecond) {
  EXPECT_EQ(TimerM::Timer_start(2, TIMER_REPEAT, 1024), SUCCESS);
  run_until(5 * TICKS_PER_SECOND);
  std::vector<vex_time_t> times = fire_times(2);
  ASSERT_EQ(times.size(), 4u);
  // Four full clock periods of 231 counts, then one of 101: 1024 + 1 counts.
  EXPECT_EQ(times[0], 4 * 231 * count + 101 * count);
  for (std::size_t i = 1; i < times.size(); ++i) {
    vex_time_t period = times[i] - times[i - 1];
    EXPECT_NEAR(static_cast<double>(period), 1024.0 * count, 3 * count) << i;
  }
}

TEST_F(Timers, OneShotTimersFireOnce) {
  TimerM::Timer_start(0, TIMER_ONE_SHOT, 50);
  run_until(2 * TICKS_PER_SECOND);
  EXPECT_EQ(fire_times(0).size(), 1u);
  EXPECT_EQ(TimerM::vars().mState, 0u);
}

TEST_F(Timers, FiresComeInExpiryOrderOnePerTask) {
  TimerM::Timer_start(2, TIMER_ONE_SHOT, 40);
  TimerM::Timer_start(0, TIMER_ONE_SHOT, 40);
  TimerM::Timer_start(1, TIMER_ONE_SHOT, 20);
  run_until(TICKS_PER_SECOND);
  ASSERT_EQ(fired.size(), 3u);
  EXPECT_EQ(fired[0].first, 1);
  // Timers expiring at the same interrupt fire in id order.
  EXPECT_EQ(fired[1].first, 0);
  EXPECT_EQ(fired[2].first, 2);
  EXPECT_EQ(fired[1].second, fired[2].second);
}

TEST_F(Timers, IntervalOf255StopsTheClock) {
  VEXH_clock_set_rate(255, 3);
  EXPECT_EQ(VEXH_get_clock0_counter(), 0);
  run_until(2 * 231 * count);  // the old tick comes up stale and is dropped
  EXPECT_TRUE(vex_state.queue.is_empty());
  EXPECT_FALSE(clock_emulation[0].has_event);
}

TEST_F(Timers, TheCounterCountsFromTheLastTick) {
  vex_state.vex_time = 5 * count + 100;
  EXPECT_EQ(VEXH_get_clock0_counter(), 5);
  EXPECT_EQ(VEXH_get_clock_interval(), 230);
  EXPECT_EQ(HPLClock::vars_of(0).minterval, 230);
  EXPECT_EQ(HPLClock::vars_of(0).mscale, 3);
}

TEST_F(Timers, ClockLinesShowRateIntervalAndTicks) {
  dbg_set(DBG_CLOCK);
  testing::internal::CaptureStdout();
  VEXH_clock_set_rate(99, 3);
  TimerM::Timer_start(0, TIMER_ONE_SHOT, 5);
  EXPECT_EQ(testing::internal::GetCapturedStdout(),
            "0: CLOCK: Setting clock rate to interval 100, scale 3\n"
            "0: CLOCK: Setting clock interval to 6 @ 0:0:0.00000000\n");
  testing::internal::CaptureStdout();
  vex_state.queue.handle_next_event(vex_state);
  VEXH_run_all_tasks();
  EXPECT_EQ(testing::internal::GetCapturedStdout(),
            "0: CLOCK: event handled for mote 0 at 0:0:0.00585900 (23436 ticks).\n"
            "0: CLOCK: Setting clock interval to 231 @ 0:0:0.00585900\n");
}

TEST_F(Timers, SwitchedOffMotesLoseTheirTicksAndRestartCleanly) {
  TimerM::Timer_start(0, TIMER_REPEAT, 100);
  vex_state.moteOn[0] = false;
  run_until(TICKS_PER_SECOND);
  EXPECT_TRUE(fired.empty());
  EXPECT_TRUE(vex_state.queue.is_empty());  // ticks of an off mote are released
  vex_state.moteOn[0] = true;
  __quil_brelo_initialise(0);
  TimerM::StdControl_init();
  TimerM::Timer_start(0, TIMER_REPEAT, 100);
  run_until(2 * TICKS_PER_SECOND);
  EXPECT_GE(fired.size(), 8u);
}

// A full task ring makes the clock interrupt's post fail. The counts go on
// accumulating and the next interrupt posts again, so the timers catch up
// instead of stopping for good.
TEST_F(Timers, AFailedPostOfTheFireHandlerRecovers) {
  TimerM::Timer_start(0, TIMER_REPEAT, 3);
  ASSERT_EQ(vex_state.queue.peek_event_time(), 4 * count);
  for (int i = 0; i < 8; ++i) VEX_post(filler_task);
  vex_state.queue.handle_next_event(vex_state);  // tick with the ring full
  EXPECT_EQ(TimerM::vars().interval_outstanding, 4);
  VEXH_run_all_tasks();
  EXPECT_TRUE(fired.empty());
  vex_state.queue.handle_next_event(vex_state);  // the next tick posts the handler
  EXPECT_EQ(vex_state.vex_time, 8 * count);
  VEXH_run_all_tasks();
  ASSERT_EQ(fire_times(0).size(), 1u);
  EXPECT_EQ(TimerM::vars().interval_outstanding, 0);
  run_until(TICKS_PER_SECOND / 4);
  EXPECT_GT(fire_times(0).size(), 50u);
}

// Far behind, a repeating timer's remaining count goes negative; the next
// interrupt is then as soon as the counter allows, not 200-odd counts away.
TEST_F(Timers, AnOverdueTimerGetsTheSoonestInterrupt) {
  TimerM::Timer_start(0, TIMER_REPEAT, 3);
  for (int i = 0; i < 8; ++i) VEX_post(filler_task);
  for (int i = 0; i < 60; ++i) vex_state.queue.handle_next_event(vex_state);
  VEXH_run_all_tasks();  // the fillers only: the fire handler never got in
  ASSERT_GT(TimerM::vars().interval_outstanding, 100);
  vex_time_t before = vex_state.vex_time;
  vex_state.queue.handle_next_event(vex_state);  // posts the fire handler
  VEXH_run_all_tasks();
  EXPECT_LT(TimerM::vars().mTimerList[0].ticksLeft, 0);
  EXPECT_EQ(TimerM::vars().mInterval, 3);
  EXPECT_EQ(vex_state.queue.peek_event_time(), vex_state.vex_time + 4 * count);
  EXPECT_GT(vex_state.vex_time, before);
}

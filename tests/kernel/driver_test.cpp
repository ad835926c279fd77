#include "kernel/driver.hpp"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <memory>
#include <thread>
#include <vector>

#include "kernel/pacing.hpp"
#include "kernel/schedule.hpp"
#include "kernel/scheduler.hpp"
#include "kernel/sim_requests.hpp"
#include "support/world_test.hpp"

namespace {
std::vector<vex_time_t> ran_at;
std::vector<vex_time_t> tasks_at;
void note_task() { tasks_at.push_back(vex_state.vex_time); }

struct MarkEvent final : event_t {
  explicit MarkEvent(vex_time_t t) {
    time = t;
    force = 1;
  }
  void handle(EventPtr, VEX_state_t& state) override {
    ran_at.push_back(state.vex_time);
    VEX_post(note_task);
  }
};

// Re-arms itself every `interval` ticks, keeping the queue busy.
struct TickEvent final : event_t {
  vex_time_t interval;
  explicit TickEvent(vex_time_t every) : interval(every) { force = 1; }
  void handle(EventPtr self, VEX_state_t&) override {
    self->time += interval;
    sim::schedule(std::move(self));
  }
};

std::atomic<bool> served_on_loop_thread{false};
std::thread::id loop_thread;

class Driver : public WorldTest {
 protected:
  void SetUp() override {
    WorldTest::SetUp();
    ran_at.clear();
    tasks_at.clear();
    set_rate_value(1000.0);
    rate_checkpoint();
  }
};
}  // namespace

TEST(BootTimes, WindowOfZeroBootsMoteIAtTickI) {
  EXPECT_EQ(boot_time_for(0, 12345, 0), 0);
  EXPECT_EQ(boot_time_for(7, 12345, 0), 7);
}

TEST(BootTimes, DrawIsTakenModuloTheWindow) {
  EXPECT_EQ(boot_time_for(2, 4000005, 1), 2 + 5);
  EXPECT_EQ(boot_time_for(0, 39999999, 10), 39999999);
}

TEST(BootTimes, LongWindowsDoNotOverflow) {
  // 1000 s is 4e9 ticks, beyond a 32-bit product: a large draw stays as it is.
  EXPECT_EQ(boot_time_for(1, 2147483647, 1000), 2147483648LL);
}

TEST_F(Driver, BootsFollowTheSeededGenerator) {
  vex_state.num_nodes = 4;
  std::srand(77);
  std::vector<vex_time_t> expected;
  for (int i = 0; i < 3; ++i) expected.push_back(i + std::rand() % (5 * 4000000LL));
  std::srand(77);
  schedule_boots(3, 5);
  EXPECT_EQ(vex_state.queue.size(), 3u);
  for (int i = 0; i < 3; ++i) EXPECT_EQ(vex_state.node_state[i].time, expected[i]);
  EXPECT_EQ(vex_state.node_state[3].time, 0);
}

TEST_F(Driver, TheFirstEventAtTheLimitRunsButNotItsTasks) {
  for (vex_time_t t : {10, 20, 30}) vex_state.queue.insert_event(std::make_unique<MarkEvent>(t));
  run_main_loop(20, {});
  EXPECT_EQ(ran_at, (std::vector<vex_time_t>{10, 20}));
  EXPECT_EQ(tasks_at, (std::vector<vex_time_t>{10}));
  EXPECT_EQ(vex_state.vex_time, 20);
  VEXH_sched_init();
}

TEST_F(Driver, TasksRunBeforeTheNextEvent) {
  vex_state.queue.insert_event(std::make_unique<MarkEvent>(5));
  vex_state.queue.insert_event(std::make_unique<MarkEvent>(6));
  run_main_loop(6, {});
  EXPECT_EQ(tasks_at, (std::vector<vex_time_t>{5}));  // before the event at 6 set the time
}

TEST_F(Driver, AnEmptyQueueStillReachesTheLimitAtTheRate) {
  // Two virtual seconds at 1000 times real time: about 2 ms.
  auto start = std::chrono::steady_clock::now();
  run_main_loop(2 * TICKS_PER_SECOND, {});
  auto took = std::chrono::steady_clock::now() - start;
  EXPECT_EQ(vex_state.vex_time, 2 * TICKS_PER_SECOND);
  EXPECT_LT(took, std::chrono::milliseconds(500));
}

TEST_F(Driver, CpuCheckpointsComeEveryFifthOfAVirtualSecond) {
  static int checkpoints;
  checkpoints = 0;
  for (int i = 1; i <= 10; ++i) vex_state.queue.insert_event(std::make_unique<MarkEvent>(i * 500000));
  MainLoopHooks hooks;
  hooks.cpu_checkpoint = [] { ++checkpoints; };
  run_main_loop(5000000, hooks);
  // Times 1.0, 2.0, 3.0, 4.0, 5.0 million: each more than 800,000 after the last.
  EXPECT_EQ(checkpoints, 5);
}

// Other threads reach the running loop through the attention word: an event
// handed over from a control thread runs, a request is served on the loop's
// own thread, a pause holds virtual time still until resumed, and a new
// rate takes effect while the loop is pacing.
TEST_F(Driver, OtherThreadsReachTheRunningLoop) {
  set_rate_value(200.0);  // 10 virtual seconds take 50 ms
  rate_checkpoint();
  vex_state.queue.insert_event(std::make_unique<TickEvent>(400));
  loop_thread = std::this_thread::get_id();
  served_on_loop_thread = false;
  sim_requests::set_handler([] {
    if (std::this_thread::get_id() == loop_thread) served_on_loop_thread = true;
  });
  std::thread control([] {
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
    sim::schedule_from_any_thread(std::make_unique<MarkEvent>(0));
    sim_requests::post();
    pause_simulation(true);
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
    const vex_time_t held = vex_state.vex_time;
    std::this_thread::sleep_for(std::chrono::milliseconds(30));
    EXPECT_EQ(vex_state.vex_time, held);
    pause_simulation(false);
    set_sim_rate(0xFFFFFFFF);  // as fast as a client can ask
  });
  auto start = std::chrono::steady_clock::now();
  run_main_loop(1000 * TICKS_PER_SECOND, {});
  auto took = std::chrono::steady_clock::now() - start;
  control.join();
  sim_requests::set_handler(nullptr);
  EXPECT_EQ(ran_at.size(), 1u);  // the handed-over event, at the time it arrived
  EXPECT_TRUE(served_on_loop_thread);
  // 1000 virtual seconds took 5 s at the first rate; at the new one, moments.
  EXPECT_LT(took, std::chrono::seconds(3));
  VEXH_sched_init();
}

// A task may wait for a client (an event to a watcher waits for its
// acknowledgement) while the client hands over an event for that very
// moment. The handed-over event must run next, before events queued for
// later, exactly as if it had been inserted while the task ran.
TEST_F(Driver, AnEventHandedOverWhileATaskWaitsRunsNext) {
  static std::atomic<bool> handed;
  handed = false;
  struct PostsWaitingTask final : event_t {
    PostsWaitingTask() {
      time = 100;
      force = 1;
    }
    void handle(EventPtr, VEX_state_t&) override {
      VEX_post([] {
        std::thread control([] {
          sim::schedule_from_any_thread(std::make_unique<MarkEvent>(100));
          handed = true;
        });
        control.join();
      });
    }
  };
  vex_state.queue.insert_event(std::make_unique<PostsWaitingTask>());
  vex_state.queue.insert_event(std::make_unique<MarkEvent>(150));
  run_main_loop(150, {});
  ASSERT_TRUE(handed);
  // The handed-over event ran at 100, before the one queued for 150.
  EXPECT_EQ(ran_at, (std::vector<vex_time_t>{100, 150}));
  VEXH_sched_init();
}

#include "kernel/event_queue.hpp"

#include <gtest/gtest.h>

#include <atomic>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "kernel/dbg.hpp"
#include "kernel/vex_state.hpp"
#include "support/world_test.hpp"

namespace {
// Records the order in which events run and how many are alive.
std::vector<std::string> ran;
std::atomic<int> alive{0};  // events are also made on another thread

struct NamedEvent final : event_t {
  std::string name;
  NamedEvent(std::string n, vex_time_t t, int m = 0, int f = 0) : name(std::move(n)) {
    time = t;
    mote = m;
    force = f;
    ++alive;
  }
  ~NamedEvent() override { --alive; }
  void handle(EventPtr, VEX_state_t&) override { ran.push_back(name); }
};

// Re-arms itself `times` more times, 100 ticks apart.
struct PeriodicEvent final : event_t {
  int times;
  explicit PeriodicEvent(int n) : times(n) { ++alive; }
  ~PeriodicEvent() override { --alive; }
  void handle(EventPtr self, VEX_state_t& state) override {
    ran.push_back("tick@" + std::to_string(state.vex_time.load()));
    if (times-- > 0) {
      self->time += 100;
      state.queue.insert_event(std::move(self));
    }
  }
};

class EventQueue : public WorldTest {
 protected:
  void SetUp() override {
    WorldTest::SetUp();
    ran.clear();
    vex_state.num_nodes = 10;
    for (int m = 0; m < 10; ++m) vex_state.moteOn[m] = true;
  }
  void insert(const std::string& name, vex_time_t time, int mote = 0, int force = 0) {
    vex_state.queue.insert_event(std::make_unique<NamedEvent>(name, time, mote, force));
  }
  void run_all() {
    while (vex_state.queue.handle_next_event(vex_state)) {
    }
  }
};
}  // namespace

TEST_F(EventQueue, PeekingAnEmptyQueueGivesMinusOne) {
  EXPECT_TRUE(vex_state.queue.is_empty());
  EXPECT_EQ(vex_state.queue.peek_event_time(), -1);
  EXPECT_FALSE(vex_state.queue.handle_next_event(vex_state));
  EXPECT_EQ(vex_state.queue.pop_event(), nullptr);
}

TEST_F(EventQueue, EventsRunInTimeOrder) {
  insert("a5", 5);
  insert("b3", 3);
  insert("c9", 9);
  insert("d3", 3);
  EXPECT_EQ(vex_state.queue.peek_event_time(), 3);
  run_all();
  ASSERT_EQ(ran.size(), 4u);
  EXPECT_EQ(ran[2], "a5");
  EXPECT_EQ(ran[3], "c9");
  EXPECT_EQ(alive, 0);
}

// Equal times are ordered by the heap's shape, not by insertion: these
// sequences follow from the sift rules and the radio relies on them.
TEST_F(EventQueue, EqualTimesFollowTheHeapShape) {
  insert("A", 1);
  insert("B", 1);
  insert("C", 1);
  run_all();
  EXPECT_EQ(ran, (std::vector<std::string>{"A", "C", "B"}));
}

TEST_F(EventQueue, SiftDownPrefersTheRightChildOnEqualKeys) {
  insert("A", 0);
  insert("B", 5);
  insert("C", 5);
  insert("D", 9);
  run_all();
  EXPECT_EQ(ran, (std::vector<std::string>{"A", "C", "B", "D"}));
}

TEST_F(EventQueue, ANewEventNeverRisesAboveAnEqualKey) {
  insert("first", 7);
  insert("second", 7);
  EXPECT_EQ(ran.size(), 0u);
  EventPtr top = vex_state.queue.pop_event();
  EXPECT_EQ(static_cast<NamedEvent&>(*top).name, "first");
}

TEST_F(EventQueue, RunningAnEventSetsTimeAndCurrentMote) {
  insert("x", 12345, 7);
  ASSERT_TRUE(vex_state.queue.handle_next_event(vex_state));
  EXPECT_EQ(vex_state.vex_time, 12345);
  EXPECT_EQ(vex_state.current_node, 7);
  EXPECT_EQ(VEX_LOCAL_ADDRESS, 7);
}

TEST_F(EventQueue, AnEventForAPassedMomentRunsAtTheCurrentTime) {
  // A control thread may insert an event for a time the simulation thread
  // has passed by the time it pops it; virtual time must not go back.
  vex_state.vex_time = 5000;
  insert("late", 1200, 3);
  ASSERT_TRUE(vex_state.queue.handle_next_event(vex_state));
  EXPECT_EQ(ran, (std::vector<std::string>{"late"}));
  EXPECT_EQ(vex_state.vex_time, 5000);
}

TEST_F(EventQueue, EventsOfASwitchedOffMoteAreReleasedUnlessForced) {
  vex_state.moteOn[4] = false;
  insert("dropped", 1, 4, 0);
  insert("forced", 2, 4, 1);
  run_all();
  EXPECT_EQ(ran, (std::vector<std::string>{"forced"}));
  EXPECT_EQ(alive, 0);  // the dropped event did not leak
}

TEST_F(EventQueue, HandlersReArmTheSameRecord) {
  vex_state.queue.insert_event(std::make_unique<PeriodicEvent>(2));
  run_all();
  EXPECT_EQ(ran, (std::vector<std::string>{"tick@0", "tick@100", "tick@200"}));
  EXPECT_EQ(alive, 0);
}

TEST_F(EventQueue, GrowsFrom511To1023WithOneLine) {
  dbg_set(DBG_SIM);
  testing::internal::CaptureStdout();
  for (int i = 0; i < 511; ++i) insert("e", i);
  std::string before = testing::internal::GetCapturedStdout();
  testing::internal::CaptureStdout();
  insert("e", 511);
  for (int i = 0; i < 511; ++i) insert("e", i);  // fills 1023 exactly
  std::string grown = testing::internal::GetCapturedStdout();
  testing::internal::CaptureStdout();
  insert("e", 0);
  std::string again = testing::internal::GetCapturedStdout();
  EXPECT_EQ(before, "");
  EXPECT_EQ(grown, "0: Resized heap from 511 to 1023.\n");
  EXPECT_EQ(again, "0: Resized heap from 1023 to 2047.\n");
  EXPECT_EQ(vex_state.queue.size(), 1024u);
  vex_time_t last = -1;
  while (EventPtr e = vex_state.queue.pop_event()) {
    EXPECT_LE(last, e->time);
    last = e->time;
  }
}

TEST_F(EventQueue, QueueLinesShowPopAndMoteSwitch) {
  dbg_set(DBG_QUEUE);
  vex_state.current_node = 2;
  insert("x", 4000000LL * 3725 + 2000000, 5);
  testing::internal::CaptureStdout();
  vex_state.queue.handle_next_event(vex_state);
  EXPECT_EQ(testing::internal::GetCapturedStdout(),
            "2: Popping event for mote 5 with time 1:2:5.50000000.\n"
            "5: Setting VEX_LOCAL_ADDRESS to 5\n");
}

TEST_F(EventQueue, MemoryLinesNameTheCleanupOfEachKind) {
  dbg_set(DBG_MEM);
  auto total = std::make_unique<NamedEvent>("t", 0);
  auto data_only = std::make_unique<NamedEvent>("d", 0);
  data_only->cleanup = EventCleanup::data_only;
  testing::internal::CaptureStdout();
  event_cleanup(std::move(total));
  event_cleanup(std::move(data_only));
  std::string out = testing::internal::GetCapturedStdout();
  EXPECT_NE(out.find("event_cleanup: freeing event: 0x"), std::string::npos);
  EXPECT_NE(out.find("event_total_cleanup: freeing event data: 0x"), std::string::npos);
  EXPECT_NE(out.find("event_total_cleanup: freeing event: 0x"), std::string::npos);
  EXPECT_NE(out.find("event_default_cleanup: freeing event: 0x"), std::string::npos);
  EXPECT_EQ(alive, 0);
}

TEST_F(EventQueue, OtherThreadsMayInsertWhileTheSimulationPops) {
  constexpr int per_thread = 20000;
  std::thread producer([] {
    for (int i = 0; i < per_thread; ++i) {
      vex_state.queue.insert_event(std::make_unique<NamedEvent>("p", 1000 + i % 50));
    }
  });
  int handled = 0;
  while (handled < per_thread) {
    if (vex_state.queue.handle_next_event(vex_state)) ++handled;
  }
  producer.join();
  EXPECT_TRUE(vex_state.queue.is_empty());
  EXPECT_EQ(alive, 0);
}

TEST_F(EventQueue, InitReleasesWaitingEvents) {
  insert("a", 1);
  insert("b", 2);
  vex_state.queue.init(0);
  EXPECT_TRUE(vex_state.queue.is_empty());
  EXPECT_EQ(alive, 0);
}

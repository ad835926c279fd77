// reset_world: every registered piece of world state is restored, pieces
// that are gone are not, and component variables are cleared only for the
// motes asked for, so that a new process touches no mote's memory.

#include <gtest/gtest.h>

#include <memory>
#include <optional>

#include "kernel/per_mote.hpp"
#include "kernel/scheduler.hpp"
#include "kernel/vex_state.hpp"
#include "kernel/world.hpp"

namespace {
int counter = 0;  // stands in for a piece of world state
struct Component {
  int value = 0;
};
PerMote<Component> component;

struct Idle final : event_t {
  void handle(EventPtr, VEX_state_t&) override {}
};
void no_task() {}

TEST(ResetWorld, RestoresEveryRegisteredPieceAndForgetsPiecesThatAreGone) {
  std::optional<WorldReset> registered;
  registered.emplace([] { counter = 0; });
  counter = 7;
  reset_world(0);
  EXPECT_EQ(counter, 0);

  registered.reset();
  counter = 7;
  reset_world(0);
  EXPECT_EQ(counter, 7);
}

TEST(ResetWorld, EmptiesTheRecordQueueAndTaskRingAndClearsOnlyTheMotesAskedFor) {
  vex_state.vex_time = 1234;
  vex_state.moteOn[2] = true;
  auto event = std::make_unique<Idle>();
  event->time = 2000;
  vex_state.queue.insert_event(std::move(event));
  ASSERT_EQ(VEX_post(no_task), SUCCESS);
  component.of(0).value = 1;
  component.of(2).value = 3;

  reset_world(2);
  EXPECT_EQ(vex_state.vex_time, 0);
  EXPECT_FALSE(vex_state.moteOn[2]);
  EXPECT_TRUE(vex_state.queue.is_empty());
  EXPECT_FALSE(VEXH_run_next_task());
  EXPECT_EQ(component.of(0).value, 0);
  EXPECT_EQ(component.of(2).value, 3);  // beyond the two motes asked for

  reset_world();
  EXPECT_EQ(component.of(2).value, 0);
}
}  // namespace

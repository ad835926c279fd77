#pragma once
// The base of every in-process test that runs simulator code: each test
// starts from a fresh world (reset_world) with no debug output, no client
// events and no application, and leaves a fresh world behind.

#include <gtest/gtest.h>

// What the fixture's users set up next: entry points, modes, sinks, tasks.
#include "kernel/client_events.hpp"
#include "kernel/dbg.hpp"
#include "kernel/mote_lifecycle.hpp"
#include "kernel/scheduler.hpp"
#include "kernel/vex_state.hpp"

class WorldTest : public ::testing::Test {
 protected:
  void SetUp() override;
  void TearDown() override;
};

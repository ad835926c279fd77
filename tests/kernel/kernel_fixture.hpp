#pragma once
// Puts the process-wide simulator state back to a fresh start before each test.

#include <gtest/gtest.h>

#include "kernel/client_events.hpp"
#include "kernel/dbg.hpp"
#include "kernel/mote_lifecycle.hpp"
#include "kernel/scheduler.hpp"
#include "kernel/vex_state.hpp"

class KernelTest : public ::testing::Test {
 protected:
  void SetUp() override {
    vex_state.reset();
    VEXH_sched_init();
    set_app_entry_points({});
    dbg_set(DBG_NONE);
    dbg_suppress_stdout = false;
    set_client_event_sink(nullptr);
    VEX_LOCAL_ADDRESS = 1;
  }
  void TearDown() override {
    dbg_set(DBG_NONE);
    set_client_event_sink(nullptr);
    vex_state.reset();
    VEXH_sched_init();
  }
};

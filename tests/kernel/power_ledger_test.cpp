#include "kernel/power_ledger.hpp"

#include <gtest/gtest.h>

#include "kernel/mote_lifecycle.hpp"
#include "support/world_test.hpp"

namespace {
using power_ledger::Radio;

class PowerLedger : public WorldTest {
 protected:
  void SetUp() override {
    WorldTest::SetUp();
    vex_state.num_nodes = 2;
  }
  // Moves virtual time to `ticks`, with mote 1 running.
  void at(vex_time_t ticks) {
    vex_state.vex_time = ticks;
    vex_state.current_node = 1;
  }
};

// Each state's time is the sum of its intervals; the open one counts up to
// the moment asked about, and a repeated note changes nothing.
TEST_F(PowerLedger, StatesAccumulateTheirIntervals) {
  at(100);
  brelo_start_mote(1);
  at(200);
  power_ledger::radio(Radio::receive);
  power_ledger::led(power_ledger::green, true);
  at(250);
  power_ledger::radio(Radio::transmit);
  power_ledger::led(power_ledger::green, true);  // already lit
  at(300);
  power_ledger::radio(Radio::receive);
  power_ledger::led(power_ledger::green, false);
  power_ledger::adc_conversion();

  const power_ledger::Times t = power_ledger::times_of(1, 1000);
  EXPECT_EQ(t.on, 900);
  EXPECT_EQ(t.radio[static_cast<int>(Radio::sleep)], 100);
  EXPECT_EQ(t.radio[static_cast<int>(Radio::transmit)], 50);
  EXPECT_EQ(t.radio[static_cast<int>(Radio::receive)], 50 + 700);
  EXPECT_EQ(t.led[power_ledger::green], 100);
  EXPECT_EQ(t.led[power_ledger::red], 0);
  EXPECT_EQ(t.adc_conversions, 1u);
  EXPECT_EQ(power_ledger::times_of(0, 1000).on, 0);  // never switched on
}

// A switched-off mote draws nothing, whatever its devices were doing; on
// again, it starts dark with its radio asleep, as after a power cycle.
TEST_F(PowerLedger, OffTimeCountsForNothingAndARestartStartsDark) {
  at(0);
  brelo_start_mote(1);
  power_ledger::radio(Radio::transmit);
  power_ledger::led(power_ledger::red, true);
  at(400);
  brelo_stop_mote(1);
  power_ledger::led(power_ledger::yellow, true);  // notes of an off mote are ignored
  at(1000);
  brelo_start_mote(1);
  at(1100);

  const power_ledger::Times t = power_ledger::times_of(1, 1100);
  EXPECT_EQ(t.on, 400 + 100);
  EXPECT_EQ(t.radio[static_cast<int>(Radio::transmit)], 400);
  EXPECT_EQ(t.radio[static_cast<int>(Radio::sleep)], 100);
  EXPECT_EQ(t.led[power_ledger::red], 400);
  EXPECT_EQ(t.led[power_ledger::yellow], 0);
}
}  // namespace

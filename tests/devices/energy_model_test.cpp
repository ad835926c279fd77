#include "devices/energy_model.hpp"

#include <gtest/gtest.h>

namespace {

// Millijoules are milliamperes x volts x seconds, state by state; ADC
// conversions count at their fixed duration.
TEST(EnergyFigures, EnergyIsCurrentTimesVoltageTimesTime) {
  EnergyFigures f;
  f.supply_V = 2;
  f.cpu_mA = 1;
  f.radio_receive_mA = 10;
  f.radio_transmit_mA = 100;
  f.led_mA = 3;
  f.adc_mA = 1000;
  f.adc_conversion_us = 250;
  power_ledger::Times t;
  t.on = 4 * TICKS_PER_SECOND;
  t.radio = {0, 3 * TICKS_PER_SECOND, TICKS_PER_SECOND};
  t.led[power_ledger::yellow] = TICKS_PER_SECOND / 2;
  t.adc_conversions = 4;  // 1 ms

  const MoteEnergy e = energy_of(t, f);
  EXPECT_DOUBLE_EQ(e.cpu, 8);
  EXPECT_DOUBLE_EQ(e.radio[static_cast<int>(power_ledger::Radio::receive)], 60);
  EXPECT_DOUBLE_EQ(e.radio[static_cast<int>(power_ledger::Radio::transmit)], 200);
  EXPECT_DOUBLE_EQ(e.led[power_ledger::yellow], 3);
  EXPECT_DOUBLE_EQ(e.adc, 2);
  EXPECT_DOUBLE_EQ(e.total(), 8 + 60 + 200 + 3 + 2);
}
}  // namespace

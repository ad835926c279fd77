#include "devices/energy_model.hpp"

#include <gtest/gtest.h>

namespace {

TEST(EnergyFigures, AFileSetsTheFiguresItNamesAndRefusesMistakesByLine) {
  std::string why;
  auto figures = read_energy_figures("# ours\n\nsupply_V = 3.3  # two cells\nled_mA=1e-1\n", why);
  ASSERT_TRUE(figures.has_value()) << why;
  EXPECT_DOUBLE_EQ(figures->supply_V, 3.3);
  EXPECT_DOUBLE_EQ(figures->led_mA, 0.1);
  EXPECT_DOUBLE_EQ(figures->cpu_mA, EnergyFigures{}.cpu_mA);

  EXPECT_FALSE(read_energy_figures("cpu_mA = 5\nradio_mA = 4\n", why));
  EXPECT_EQ(why, "line 2: unknown figure 'radio_mA'");
  EXPECT_FALSE(read_energy_figures("cpu_mA 5\n", why));
  EXPECT_EQ(why, "line 1: expected 'name = value'");
  for (const char* bad : {"cpu_mA = -1", "cpu_mA = 5 mA", "cpu_mA =", "cpu_mA = nan", "cpu_mA = inf"}) {
    EXPECT_FALSE(read_energy_figures(bad, why)) << bad;
  }
}

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

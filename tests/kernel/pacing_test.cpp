#include "kernel/pacing.hpp"

#include <gtest/gtest.h>

#include <cmath>

TEST(Pacing, NoSleepWithinTheSlack) {
  EXPECT_EQ(pacing_sleep_us(0, 10000, 1.0), 0);
  EXPECT_EQ(pacing_sleep_us(1000, 4000 + 10000, 1.0), 0);
  EXPECT_EQ(pacing_sleep_us(0, 0, 1000.0), 0);
}

TEST(Pacing, SleepIsDividedByTheRate) {
  // One virtual second ahead at once: at rate 1 that is a real second, at
  // rate 1000 only a millisecond.
  EXPECT_EQ(pacing_sleep_us(0, 4000000, 1.0), 1000000);
  EXPECT_EQ(pacing_sleep_us(0, 4000000, 1000.0), 1000);
  EXPECT_EQ(pacing_sleep_us(0, 4000000, 0.5), 2000000);
  // Half a second already passed at rate 1: half a second to go.
  EXPECT_EQ(pacing_sleep_us(500000, 4000000, 1.0), 500000);
}

TEST(Pacing, AllowedTicksFollowRealTimeTimesTheRate) {
  EXPECT_EQ(allowed_ticks(1000000, 1.0), 4000000);
  EXPECT_EQ(allowed_ticks(1000000, 1000.0), 4000000000LL);
  EXPECT_EQ(allowed_ticks(3, 0.1), 1);  // truncated toward zero
}

TEST(Pacing, HugeAndTinyRatesDoNotOverflow) {
  EXPECT_GT(allowed_ticks(1000000000LL, 1e300), 0);
  EXPECT_EQ(pacing_sleep_us(1, 1LL << 40, 1e300), 0);
  // A rate so small that the sleep would exceed any clock: a long sleep,
  // not an undefined conversion.
  EXPECT_GT(pacing_sleep_us(0, 1LL << 40, 1e-300), 1LL << 40);
}

TEST(Pacing, AZeroRateNeverCatchesUp) {
  EXPECT_EQ(allowed_ticks(1000000, 0.0), 0);
  EXPECT_EQ(pacing_sleep_us(1000000, 20000, 0.0), -1);
}

TEST(Pacing, ClientRatesAreInThousandths) {
  set_sim_rate(1500);
  EXPECT_DOUBLE_EQ(get_rate_value(), 1.5);
  EXPECT_EQ(get_sim_rate(), 1500);
  set_rate_value(1000.0);
  EXPECT_EQ(get_sim_rate(), 1000000);
}

// Clients get the rate in a 32-bit field of thousandths: rates beyond it,
// and no limit at all, report its largest value instead of wrapping.
TEST(Pacing, ReportedRateSaturatesAtTheFieldsLargestValue) {
  set_rate_value(4294967.295);
  EXPECT_EQ(get_sim_rate(), 4294967295LL);
  for (double rate : {4294967.296, 1e12, 1e300, HUGE_VAL}) {
    set_rate_value(rate);
    EXPECT_EQ(get_sim_rate(), max_reported_rate) << rate;
  }
  set_sim_rate(0xFFFFFFFF);  // the largest a client can set comes back unchanged
  EXPECT_EQ(get_sim_rate(), 0xFFFFFFFF);
  set_rate_value(0.0001);
  EXPECT_EQ(get_sim_rate(), 0);  // truncated toward zero
  set_rate_value(1000.0);
}

// Pacing against real time, measured on the wall clock. The rate is virtual
// seconds per real second: virtual time may run at most that much faster
// than real time, and no slower than the work demands.

#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <vector>

#include "run_brelo.hpp"

namespace e2e {
namespace {

using namespace std::chrono_literals;

ProcessResult run_timed(const std::vector<std::string>& args) {
  ProcessResult r = run_brelo(args, dbg_set("none"));
  EXPECT_FALSE(r.timed_out);
  EXPECT_TRUE(r.exited);
  EXPECT_EQ(r.exit_code, 0);
  EXPECT_EQ(r.err, "");
  return r;
}

// 20 virtual seconds at the default rate 1000 need 20 ms of real time; a
// run held to real time would take 20 s.
TEST(Pacing, DefaultRateIsNotHeldToRealTime) {
  ProcessResult r = run_timed({"-t=20", "-b=10", "-seed=1", "5"});
  EXPECT_LT(r.wall, 1s);
}

TEST(Pacing, InfiniteRateRunsUnpaced) {
  ProcessResult r = run_timed({"-l=inf", "-t=20", "-b=10", "-seed=1", "5"});
  EXPECT_LT(r.wall, 1s);
}

TEST(Pacing, RateOneKeepsRealTime) {
  ProcessResult r = run_timed({"-l=1", "-t=1", "-b=0", "1"});
  EXPECT_GE(r.wall, 900ms);
  EXPECT_LT(r.wall, 3s);
}

TEST(Pacing, RateTwoRunsTwiceAsFastAsRealTime) {
  ProcessResult r = run_timed({"-l=2", "-t=2", "-b=0", "1"});
  EXPECT_GE(r.wall, 900ms);
  EXPECT_LT(r.wall, 3s);
}

// Seed 1 boots mote 2 at 0.42319475 s and mote 0 at 1.07234575 s; the second
// boot is the first event at or after the 1 s limit and ends the run. At
// rate 2 each event waits for its virtual time: about 0.54 s of real time
// in all, although the queue never runs empty.
TEST(Pacing, EventsWaitForTheirTimeAtTheRate) {
  ProcessResult r = run_timed({"-l=2", "-t=1", "-b=10", "-seed=1", "3"});
  EXPECT_GE(r.wall, 450ms);
  EXPECT_LT(r.wall, 3s);
}

}  // namespace
}  // namespace e2e

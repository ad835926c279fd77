// Boot scheduling as seen from outside: the boot time drawn for every mote,
// which motes get a boot event, and how the boot lines look.

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <string>
#include <vector>

#include "run_brelo.hpp"

namespace e2e {
namespace {

// A rate this high keeps pacing out of runs whose boot times lie far apart.
const std::string kUnpaced = "-l=1000000";

std::vector<std::string> expected_time_lines(const std::vector<int64_t>& times) {
  std::vector<std::string> lines;
  for (std::size_t i = 0; i < times.size(); ++i) {
    lines.push_back("SIM: Time for mote " + std::to_string(i) + " initialized to " +
                    std::to_string(times[i]) + ".");
  }
  return lines;
}

std::vector<std::string> expected_schedule_lines(const std::vector<int64_t>& times,
                                                 int last_mote) {
  std::vector<std::string> lines;
  for (int64_t time : times) {
    lines.push_back(std::to_string(last_mote) + ": BOOT: Scheduling for boot at " +
                    format_ticks(time) + ".");
  }
  return lines;
}

std::string booting_line(int mote, int64_t time) {
  return std::to_string(mote) + ": BOOT: Mote booting at time " + format_ticks(time) + ".";
}

TEST(Boot, TimesFollowTheSeededCLibraryGenerator) {
  const std::vector<int64_t> times = expected_boot_times(12345, 10, 8);
  // The time lines carry both the sim and the usr3 mode; either shows them.
  for (const char* mode : {"sim", "usr3"}) {
    ProcessResult r = run_brelo({"-seed=12345", "-b=10", "-t=1", "8"}, dbg_set(mode));
    ASSERT_TRUE(r.exited) << mode;
    EXPECT_EQ(r.exit_code, 0) << mode;
    EXPECT_EQ(lines_containing(r.out, "SIM: Time for mote"), expected_time_lines(times))
        << mode;
  }
}

TEST(Boot, WindowAbove536SecondsIsNotTruncatedTo32Bits) {
  const unsigned seed = 7;
  const int motes = 6;
  const std::vector<int64_t> times = expected_boot_times(seed, 1000, motes);

  // The test only means something if a draw reaches past what a 32-bit
  // product (1000 * 4,000,000 wraps to -294,967,296) would leave, and if a
  // boot lands beyond a minute so the minutes field is exercised.
  bool differs_from_32_bit = false;
  bool beyond_a_minute = false;
  for (int i = 0; i < motes; ++i) {
    if (times[i] - i >= 294967296) differs_from_32_bit = true;
    if (times[i] >= 60 * 4000000LL) beyond_a_minute = true;
  }
  ASSERT_TRUE(differs_from_32_bit);
  ASSERT_TRUE(beyond_a_minute);

  ProcessResult r = run_brelo({"-seed=7", "-b=1000", "-t=1", kUnpaced, std::to_string(motes)},
                              dbg_set("sim,boot"));
  ASSERT_FALSE(r.timed_out);
  ASSERT_TRUE(r.exited);
  EXPECT_EQ(r.exit_code, 0);
  EXPECT_EQ(lines_containing(r.out, "SIM: Time for mote"), expected_time_lines(times));
  EXPECT_EQ(lines_containing(r.out, "BOOT: Scheduling for boot"),
            expected_schedule_lines(times, motes - 1));
}

TEST(Boot, ZeroWindowBootsMoteIAtTickI) {
  ProcessResult r = run_brelo({"-seed=99", "-b=0", "-t=1", "5"}, dbg_set("sim,boot"));
  ASSERT_TRUE(r.exited);
  EXPECT_EQ(r.exit_code, 0);
  const std::vector<int64_t> times{0, 1, 2, 3, 4};
  EXPECT_EQ(lines_containing(r.out, "SIM: Time for mote"), expected_time_lines(times));
  std::vector<std::string> booting;
  for (int i = 0; i < 5; ++i) booting.push_back(booting_line(i, i));
  EXPECT_EQ(lines_containing(r.out, "BOOT: Mote booting"), booting);
}

// Seed 1 with a 10 s window gives motes 0, 1, 2 the draws 1804289383,
// 846930886 and 1681692777, so boot times 4,289,383, 6,930,887 and 1,692,779
// ticks. Boot events are scheduled while the last mote is current; each boot
// line carries the booting mote's id and the time in units of 10 ns. (The
// booting motes' own components may add lines of their own in between.)
TEST(Boot, LinesCarryMotePrefixAndFormattedTime) {
  ProcessResult r = run_brelo({"-seed=1", "-b=10", "-t=2", "3"}, dbg_set("boot"));
  ASSERT_TRUE(r.exited);
  EXPECT_EQ(r.exit_code, 0);
  EXPECT_EQ(r.err, "");
  EXPECT_TRUE(r.out.starts_with("SIM: EEPROM system initialized.\n"
                                "SIM: Random seed is 1\n"))
      << r.out.substr(0, 200);
  EXPECT_EQ(lines_containing(r.out, "BOOT: "),
            (std::vector<std::string>{"2: BOOT: Scheduling for boot at 0:0:1.07234575.",
                                      "2: BOOT: Scheduling for boot at 0:0:1.73272175.",
                                      "2: BOOT: Scheduling for boot at 0:0:0.42319475.",
                                      "2: BOOT: Mote booting at time 0:0:0.42319475.",
                                      "0: BOOT: Mote booting at time 0:0:1.07234575.",
                                      "1: BOOT: Mote booting at time 0:0:1.73272175."}));
  EXPECT_TRUE(completed_once(r.out, 3));
}

TEST(Boot, MotesToBootSchedulesOnlyTheFirstMotes) {
  const std::vector<int64_t> times = expected_boot_times(3, 1, 3);
  ProcessResult r = run_brelo({"-seed=3", "-b=1", "-s=3", "-t=2", "10"}, dbg_set("sim,boot"));
  ASSERT_TRUE(r.exited);
  EXPECT_EQ(r.exit_code, 0);
  EXPECT_EQ(lines_containing(r.out, "SIM: Time for mote"), expected_time_lines(times));
  EXPECT_EQ(lines_containing(r.out, "BOOT: Scheduling for boot"),
            expected_schedule_lines(times, 9));
  std::vector<std::string> booting = lines_containing(r.out, "BOOT: Mote booting");
  ASSERT_EQ(booting.size(), 3u);
  for (int mote = 0; mote < 3; ++mote) {
    EXPECT_NE(std::find(booting.begin(), booting.end(), booting_line(mote, times[mote])),
              booting.end())
        << "mote " << mote;
  }
  EXPECT_TRUE(completed_once(r.out, 10));
}

TEST(Boot, MotesToBootAboveMoteCountBootsAll) {
  const std::vector<int64_t> times = expected_boot_times(3, 1, 10);
  ProcessResult r = run_brelo({"-seed=3", "-b=1", "-s=20", "-t=2", "10"}, dbg_set("sim,boot"));
  ASSERT_TRUE(r.exited);
  EXPECT_EQ(r.exit_code, 0);
  EXPECT_EQ(lines_containing(r.out, "SIM: Time for mote"), expected_time_lines(times));
  EXPECT_EQ(lines_containing(r.out, "BOOT: Scheduling for boot"),
            expected_schedule_lines(times, 9));
  EXPECT_EQ(lines_containing(r.out, "BOOT: Mote booting").size(), 10u);
}

TEST(Boot, MotesToBootZeroBootsNone) {
  ProcessResult r = run_brelo({"-seed=3", "-b=1", "-s=0", "-t=2", "10"}, dbg_set("sim,boot"));
  ASSERT_TRUE(r.exited);
  EXPECT_EQ(r.exit_code, 0);
  EXPECT_TRUE(lines_containing(r.out, "SIM: Time for mote").empty());
  EXPECT_TRUE(lines_containing(r.out, "BOOT: ").empty());
  EXPECT_TRUE(completed_once(r.out, 10));
}

// Every debug mode but simmem, whose lines name heap addresses. Both runs
// get the very same command line, control ports included.
TEST(Boot, SameSeedGivesByteIdenticalOutput) {
  const std::vector<std::string> args = with_free_ports({"-seed=42", "-b=1", "-t=1", "3"});
  const DbgEnv dbg = dbg_set("all,-simmem");
  ProcessResult first = run_brelo_verbatim(args, dbg);
  ProcessResult second = run_brelo_verbatim(args, dbg);
  ASSERT_TRUE(first.exited);
  ASSERT_TRUE(second.exited);
  EXPECT_EQ(first.exit_code, 0);
  EXPECT_EQ(second.exit_code, 0);
  EXPECT_EQ(first_difference(first.out, second.out), "");
  EXPECT_EQ(lines_containing(first.out, "BOOT: Mote booting").size(), 3u);

  // A different seed must change the output, or the comparison above
  // would prove nothing.
  std::vector<std::string> other_args = args;
  for (std::string& arg : other_args) {
    if (arg == "-seed=42") arg = "-seed=43";
  }
  ProcessResult other = run_brelo_verbatim(other_args, dbg);
  ASSERT_TRUE(other.exited);
  EXPECT_NE(first_difference(first.out, other.out), "");
}

}  // namespace
}  // namespace e2e

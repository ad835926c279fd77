// How a run ends: at the time limit with the completion line, or on the
// interrupt signal with the "Exiting on SIGINT" line.

#include <signal.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <numeric>
#include <regex>
#include <string>
#include <vector>

#include "run_brelo.hpp"

namespace e2e {
namespace {

using namespace std::chrono_literals;

TEST(TimeLimit, RunEndsWithCompletionLine) {
  ProcessResult r = run_brelo({"-t=2", "-b=0", "-seed=5", "3"}, dbg_set("boot"));
  ASSERT_FALSE(r.timed_out);
  ASSERT_TRUE(r.exited);
  EXPECT_EQ(r.exit_code, 0);
  EXPECT_EQ(r.err, "");
  EXPECT_EQ(lines_containing(r.out, "BOOT: "),
            (std::vector<std::string>{"2: BOOT: Scheduling for boot at 0:0:0.00000000.",
                                      "2: BOOT: Scheduling for boot at 0:0:0.00000025.",
                                      "2: BOOT: Scheduling for boot at 0:0:0.00000050.",
                                      "0: BOOT: Mote booting at time 0:0:0.00000000.",
                                      "1: BOOT: Mote booting at time 0:0:0.00000025.",
                                      "2: BOOT: Mote booting at time 0:0:0.00000050."}));
  EXPECT_TRUE(completed_once(r.out, 3));
}

// The completion line is the very last output, also with every mode on,
// whatever other threads print.
TEST(TimeLimit, CompletionLineIsTheLastLine) {
  for (int run = 0; run < 3; ++run) {
    ProcessResult r = run_brelo({"-seed=5", "-b=0", "-t=1", "2"}, dbg_unset());
    ASSERT_TRUE(r.exited);
    EXPECT_EQ(r.exit_code, 0);
    EXPECT_TRUE(r.out.ends_with("\nSimulation of 2 motes completed.\n"))
        << "run " << run << ", output ends with:\n" << tail_of(r.out);
  }
}

// Boot events pending at the limit: the first one at or after the limit runs
// (virtual time moves to it), the later ones do not. Every mote boots after
// the 1 s limit here, so that no event of an already running mote comes
// first: the seed is the first one that draws no boot time below 1 s.
TEST(TimeLimit, FirstEventAtOrAfterLimitStillRuns) {
  const int motes = 4;
  const int64_t limit = 4000000;
  unsigned seed = 1;
  std::vector<int64_t> times;
  for (; seed < 1000; ++seed) {
    times = expected_boot_times(seed, 10, motes);
    if (*std::min_element(times.begin(), times.end()) >= limit) break;
  }
  ASSERT_LT(seed, 1000u);
  const int first = static_cast<int>(std::min_element(times.begin(), times.end()) - times.begin());

  ProcessResult r =
      run_brelo({"-seed=" + std::to_string(seed), "-b=10", "-t=1", std::to_string(motes)},
                dbg_set("boot"));
  ASSERT_FALSE(r.timed_out);
  ASSERT_TRUE(r.exited);
  EXPECT_EQ(r.exit_code, 0);
  EXPECT_EQ(lines_containing(r.out, "BOOT: Scheduling for boot").size(), 4u);
  EXPECT_EQ(lines_containing(r.out, "BOOT: Mote booting"),
            std::vector<std::string>{std::to_string(first) + ": BOOT: Mote booting at time " +
                                     format_ticks(times[first]) + "."});
  EXPECT_TRUE(completed_once(r.out, 4));
}

// With the limit inside the boot window, the motes due before it boot in
// time order and the run ends with the first boot at or after it.
TEST(TimeLimit, MotesDueBeforeLimitBootInTimeOrder) {
  const unsigned seed = 2024;
  const int motes = 12;
  const int64_t limit = 3 * 4000000LL;
  const std::vector<int64_t> times = expected_boot_times(seed, 10, motes);

  std::vector<int> order(motes);
  std::iota(order.begin(), order.end(), 0);
  std::sort(order.begin(), order.end(), [&](int a, int b) { return times[a] < times[b]; });
  std::vector<std::string> expected;
  std::string boot_due_at_limit;
  for (int mote : order) {
    std::string line = std::to_string(mote) + ": BOOT: Mote booting at time " +
                       format_ticks(times[mote]) + ".";
    if (times[mote] >= limit) {
      boot_due_at_limit = line;
      break;
    }
    expected.push_back(line);
  }
  ASSERT_GE(expected.size(), 2u);
  ASSERT_FALSE(boot_due_at_limit.empty());

  ProcessResult r = run_brelo({"-seed=2024", "-b=10", "-t=3", std::to_string(motes)},
                              dbg_set("boot"));
  ASSERT_FALSE(r.timed_out);
  ASSERT_TRUE(r.exited);
  EXPECT_EQ(r.exit_code, 0);
  // Running motes have events of their own, so the boot due next after the
  // limit may or may not be the event that ends the run.
  std::vector<std::string> booted = lines_containing(r.out, "BOOT: Mote booting");
  if (booted.size() == expected.size() + 1) {
    EXPECT_EQ(booted.back(), boot_due_at_limit);
    booted.pop_back();
  }
  EXPECT_EQ(booted, expected);
  EXPECT_TRUE(completed_once(r.out, 12));
}

const std::regex kExitingLine(R"(Exiting on SIGINT at \d+:\d+:\d+\.\d{8}\.)");

// Without a time limit only the interrupt signal ends the run.
TEST(Sigint, EndsUnlimitedRunWithExitingLineAndStatusZero) {
  auto brelo = start_brelo({"-b=0", "2"}, dbg_set("boot"));
  brelo->collect_for(200ms);
  brelo->send_signal(SIGINT);
  ProcessResult r = brelo->finish(5000ms);
  ASSERT_FALSE(r.timed_out) << "brelo did not end on SIGINT";
  ASSERT_TRUE(r.exited) << "ended by signal " << r.term_signal;
  EXPECT_EQ(r.exit_code, 0);
  EXPECT_EQ(r.err, "");
  std::vector<std::string> lines = lines_of(r.out);
  ASSERT_FALSE(lines.empty());
  EXPECT_TRUE(std::regex_match(lines.back(), kExitingLine)) << lines.back();
  EXPECT_TRUE(r.out.ends_with("\n"));
  EXPECT_EQ(lines_containing(r.out, "BOOT: Mote booting").size(), 2u);
  EXPECT_TRUE(lines_containing(r.out, "completed").empty());
}

TEST(Sigint, SecondSigintDuringExitIsIgnored) {
  auto brelo = start_brelo({"-b=0", "2"}, dbg_set("boot"));
  brelo->collect_for(200ms);
  brelo->send_signal(SIGINT);
  brelo->send_signal(SIGINT);
  ProcessResult r = brelo->finish(5000ms);
  ASSERT_FALSE(r.timed_out);
  ASSERT_TRUE(r.exited) << "ended by signal " << r.term_signal;
  EXPECT_EQ(r.exit_code, 0);
  EXPECT_EQ(lines_containing(r.out, "Exiting on SIGINT").size(), 1u);
  std::vector<std::string> lines = lines_of(r.out);
  ASSERT_FALSE(lines.empty());
  EXPECT_TRUE(std::regex_match(lines.back(), kExitingLine)) << lines.back();
  EXPECT_TRUE(lines_containing(r.out, "completed").empty());
}

// At a rate of 0.001 the first boot (mote 2 at 0.42319475 s for seed 1)
// runs at once and pacing then holds the run back for minutes of real time.
// The signal must cut that wait short, and the exit line names the virtual
// time the run had reached.
TEST(Sigint, CutsPacingWaitShort) {
  auto brelo = start_brelo({"-l=0.001", "-seed=1", "-b=10", "3"}, dbg_set("boot"));
  brelo->collect_for(200ms);
  auto signalled = std::chrono::steady_clock::now();
  brelo->send_signal(SIGINT);
  ProcessResult r = brelo->finish(5000ms);
  auto exit_delay = std::chrono::steady_clock::now() - signalled;
  ASSERT_FALSE(r.timed_out);
  ASSERT_TRUE(r.exited) << "ended by signal " << r.term_signal;
  EXPECT_EQ(r.exit_code, 0);
  EXPECT_LT(exit_delay, 1s);
  EXPECT_EQ(lines_containing(r.out, "BOOT: Mote booting"),
            std::vector<std::string>{"2: BOOT: Mote booting at time 0:0:0.42319475."});
  EXPECT_TRUE(r.out.ends_with("\nExiting on SIGINT at 0:0:0.42319475.\n")) << tail_of(r.out);
}

}  // namespace
}  // namespace e2e

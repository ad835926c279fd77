// The DBG environment variable and -nodbgout: which debug lines reach
// standard output.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "run_brelo.hpp"

namespace e2e {
namespace {

const std::vector<std::string> kShortRun{"-seed=9", "-b=0", "-t=1", "2"};
const std::string kCompleted = "Simulation of 2 motes completed.\n";

bool contains(const std::string& text, const std::string& piece) {
  return text.find(piece) != std::string::npos;
}

TEST(DebugOutput, UnsetDbgPrintsEverything) {
  ProcessResult r = run_brelo(kShortRun, dbg_unset());
  ASSERT_TRUE(r.exited);
  EXPECT_EQ(r.exit_code, 0);
  EXPECT_EQ(r.err, "");
  for (const char* line : {"SIM: EEPROM system initialized.\n", "SIM: event queue initialized.\n",
                           "SIM: Random seed is 9\n", "SIM: Time for mote 1 initialized to 1.\n",
                           "1: BOOT: Scheduling for boot at 0:0:0.00000025.\n",
                           "Popping event for mote 1 with time 0:0:0.00000025.\n",
                           "1: Setting VEX_LOCAL_ADDRESS to 1\n",
                           "1: BOOT: Mote booting at time 0:0:0.00000025.\n"}) {
    EXPECT_TRUE(contains(r.out, line)) << "missing: " << line;
  }
  EXPECT_TRUE(completed_once(r.out, 2));
}

class SilentDbgValue : public ::testing::TestWithParam<std::string> {};

TEST_P(SilentDbgValue, PrintsOnlyTheCompletionLine) {
  ProcessResult r = run_brelo(kShortRun, dbg_set(GetParam()));
  ASSERT_TRUE(r.exited);
  EXPECT_EQ(r.exit_code, 0);
  EXPECT_EQ(r.out, kCompleted);
  EXPECT_EQ(r.err, "");
}

// Empty, explicitly none, only empty pieces, and a cancel with nothing to
// cancel: each leaves every mode off.
std::string silent_case_name(const ::testing::TestParamInfo<std::string>& info) {
  static const char* const names[] = {"Empty", "None", "OnlyCommas", "CancelAlone"};
  return names[info.index];
}

INSTANTIATE_TEST_SUITE_P(DebugOutput, SilentDbgValue,
                         ::testing::Values("", "none", ",,,", "-boot"), silent_case_name);

TEST(DebugOutput, CapitalisedModeWarnsAndOtherPiecesStillApply) {
  ProcessResult r = run_brelo(kShortRun, dbg_set("Boot,sim"));
  ASSERT_TRUE(r.exited);
  EXPECT_EQ(r.exit_code, 0);
  EXPECT_EQ(r.err, "Warning: Unknown debug option: \"Boot\"\n");
  EXPECT_TRUE(contains(r.out, "SIM: Time for mote 0 initialized to 0.\n"));
  EXPECT_TRUE(lines_containing(r.out, "BOOT:").empty());
}

TEST(DebugOutput, UnknownCancelledModeWarnsWithoutItsDash) {
  ProcessResult r = run_brelo(kShortRun, dbg_set("boot,-Boot"));
  ASSERT_TRUE(r.exited);
  EXPECT_EQ(r.exit_code, 0);
  EXPECT_EQ(r.err, "Warning: Unknown debug option: \"Boot\"\n");
  EXPECT_EQ(lines_containing(r.out, "BOOT: Mote booting").size(), 2u);
}

TEST(DebugOutput, AllButBootHidesBootLines) {
  ProcessResult r = run_brelo(kShortRun, dbg_set("all,-boot"));
  ASSERT_TRUE(r.exited);
  EXPECT_EQ(r.exit_code, 0);
  EXPECT_EQ(r.err, "");
  EXPECT_TRUE(lines_containing(r.out, "BOOT:").empty());
  EXPECT_TRUE(contains(r.out, "SIM: Time for mote 1 initialized to 1.\n"));
  EXPECT_TRUE(contains(r.out, "Popping event for mote 1 with time 0:0:0.00000025.\n"));
  EXPECT_TRUE(completed_once(r.out, 2));
}

// The whole value counts, however long: a mode named after thousands of
// characters still takes effect.
TEST(DebugOutput, VeryLongValueIsUsedWhole) {
  std::string value;
  for (int i = 0; i < 1000; ++i) value += "boot,";
  value += "sim";
  ASSERT_GT(value.size(), 4000u);
  ProcessResult r = run_brelo(kShortRun, dbg_set(value));
  ASSERT_FALSE(r.timed_out);
  ASSERT_TRUE(r.exited) << "ended by signal " << r.term_signal;
  EXPECT_EQ(r.exit_code, 0);
  EXPECT_EQ(r.err, "");
  EXPECT_EQ(lines_containing(r.out, "BOOT: Mote booting").size(), 2u);
  EXPECT_TRUE(contains(r.out, "SIM: Time for mote 1 initialized to 1.\n"));
}

TEST(DebugOutput, VeryLongUnknownNameIsWarnedInFull) {
  const std::string name(5000, 'x');
  ProcessResult r = run_brelo(kShortRun, dbg_set(name + ",boot"));
  ASSERT_FALSE(r.timed_out);
  ASSERT_TRUE(r.exited) << "ended by signal " << r.term_signal;
  EXPECT_EQ(r.exit_code, 0);
  EXPECT_EQ(r.err, "Warning: Unknown debug option: \"" + name + "\"\n");
  EXPECT_EQ(lines_containing(r.out, "BOOT: Mote booting").size(), 2u);
}

TEST(DebugOutput, NoDbgOutPrintsOnlyTheCompletionLine) {
  std::vector<std::string> args{"-nodbgout"};
  args.insert(args.end(), kShortRun.begin(), kShortRun.end());
  ProcessResult r = run_brelo(args, dbg_unset());
  ASSERT_TRUE(r.exited);
  EXPECT_EQ(r.exit_code, 0);
  EXPECT_EQ(r.out, kCompleted);
  EXPECT_EQ(r.err, "");
}

}  // namespace
}  // namespace e2e

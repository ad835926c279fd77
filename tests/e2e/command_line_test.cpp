// Command lines brelo refuses, and the help text. A refused command line
// prints one fixed message on standard error, nothing on standard output,
// and ends with status 255 before the simulation starts.

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <ostream>
#include <string>
#include <vector>

#include "run_brelo.hpp"

namespace e2e {
namespace {

const std::string kUsage =
    std::string("Usage: ") + kProgramName + " [-h|--help] [options] num_nodes_total\n";

struct RefusedCase {
  const char* name;
  std::vector<std::string> args;
  std::string expected_err;
};

void PrintTo(const RefusedCase& c, std::ostream* os) { *os << c.name; }

class RefusedCommandLine : public ::testing::TestWithParam<RefusedCase> {};

TEST_P(RefusedCommandLine, PrintsItsMessageAndExits255) {
  const RefusedCase& c = GetParam();
  // DBG unset enables every debug line: none may appear before the refusal.
  ProcessResult r = run_brelo_verbatim(c.args, dbg_unset());
  ASSERT_FALSE(r.timed_out);
  ASSERT_TRUE(r.exited) << "ended by signal " << r.term_signal;
  EXPECT_EQ(r.exit_code, 255);
  EXPECT_EQ(r.err, c.expected_err);
  EXPECT_EQ(r.out, "");
}

const std::string kTooMany =
    "Brelo: I am compiled for maximum of 1000 nodes and you have specified 1001 nodes.\n"
    "Brelo: Exiting...\n";

INSTANTIATE_TEST_SUITE_P(
    CommandLine, RefusedCommandLine,
    ::testing::Values(
        RefusedCase{"NoArguments", {}, kUsage},
        RefusedCase{"UnknownOption", {"-x", "3"}, kUsage},
        RefusedCase{"OptionWithoutItsEqualsSign", {"-t", "3"}, kUsage},
        RefusedCase{"MoteCountZero", {"0"}, kUsage},
        RefusedCase{"MoteCountNegative", {"-2"}, kUsage},
        RefusedCase{"MoteCountNotANumber", {"abc"}, kUsage},
        // The last argument is always the mote count, never an option.
        RefusedCase{"LoneOptionTakenAsMoteCount", {"-t=5"}, kUsage},
        RefusedCase{"HelpAsLastOfSeveralArgumentsIsAMoteCount", {"-t=1", "-h"}, kUsage},
        RefusedCase{"MoteCountBeforeOptions", {"3", "-t=1"}, kUsage},
        RefusedCase{"TooManyMotes", {"1001"}, kTooMany},
        RefusedCase{"NegativeBootWindow",
                    {"-b=-3", "2"},
                    "SIM: boot time value must be a positive integer, not -3\n"},
        RefusedCase{"ZeroRate", {"-l=0", "2"}, "SIM: Invalid rate constant: 0.\n"},
        RefusedCase{"NegativeRate", {"-l=-1.5", "2"}, "SIM: Invalid rate constant: -1.5.\n"},
        RefusedCase{"NanRate", {"-l=nan", "2"}, "SIM: Invalid rate constant: nan.\n"},
        RefusedCase{"RateNotANumber", {"-l=fast", "2"}, "SIM: Invalid rate constant: fast.\n"},
        RefusedCase{"UnknownRadioModel",
                    {"-r=perfect", "2"},
                    "SIM: Don't recognize RFM model type perfect.\n"},
        RefusedCase{"UnknownAdcModel", {"-a=noisy", "2"}, "SIM: Bad ADC model name: noisy\n"},
        // Start-up checks come in a fixed order: the rate before the mote
        // count, the mote limit before the radio model.
        RefusedCase{"RateCheckedBeforeMoteCount", {"-l=0", "0"}, "SIM: Invalid rate constant: 0.\n"},
        RefusedCase{"MoteLimitCheckedBeforeRadioModel", {"-r=perfect", "1001"}, kTooMany},
        RefusedCase{"RadioModelCheckedBeforeAdcModel",
                    {"-a=noisy", "-r=perfect", "2"},
                    "SIM: Don't recognize RFM model type perfect.\n"}),
    [](const ::testing::TestParamInfo<RefusedCase>& info) { return info.param.name; });

// The documented lines of the help text, in order, all on standard error.
// Options added later may bring lines of their own between them.
std::vector<std::string> documented_help_lines() {
  return {std::string("Usage: ") + kProgramName + " [options] num_nodes",
          "  [options] are:",
          "  -h, --help        Display this message.",
          "  -gui              pauses simulation waiting for GUI to connect",
          "  -nodbgout\t only send dbg messages to GUI, not to stdout",
          "  -a=<model>        specifies ADC model (generic is default)",
          "                    options: generic random",
          "  -b=<sec>          motes boot over first <sec> seconds (default 10)",
          "  -ef=<file>        use <file> for eeprom; otherwise anonymous file is used",
          "  -l=<scale>        run sim at <scale> times real time (fp constant)",
          "                    inf: as fast as possible; control clients are told",
          "                    at most 4294967.295 (larger rates and inf read so)",
          "  -r=<model>        specifies a radio model (simple is default)",
          "                    options: simple lossy",
          "  -rf=<file>        specifies file for lossy mode (lossy.nss is default)",
          "                    implicitly selects lossy model",
          "  -s=<num>          only boot <num> of nodes",
          "  -t=<sec>          run simulation for <sec> virtual seconds",
          "  -seed=<seed>      use random seed <seed>",
          "  -p                do power profiling",
          "  -stats=<file>     write run statistics and energy to <file> (JSON) at",
          "                    the end of the run or on Ctrl-C",
          "  -energy=<file>    current draws and supply voltage for the energy",
          "                    figures of -stats (name = value lines)",
          "  -trace=<file>     write the packets sent and received to <file> (pcap)",
          "  num_nodes         number of nodes to simulate"};
}

const char* kModeList =
    "Known dbg modes: all, boot, clock, task, sched, sensor, led, crypto, route, am, crc, "
    "packet, encode, radio, logger, adc, i2c, uart, prog, sounder, time, power, sim, queue, "
    "simradio, hardware, simmem, usr1, usr2, usr3, temp, error, none\n";

struct HelpCase {
  const char* name;
  std::vector<std::string> args;
};

void PrintTo(const HelpCase& c, std::ostream* os) { *os << c.name; }

class HelpRequest : public ::testing::TestWithParam<HelpCase> {};

TEST_P(HelpRequest, PrintsHelpAndModeListAndExits255) {
  ProcessResult r = run_brelo_verbatim(GetParam().args, dbg_unset());
  ASSERT_FALSE(r.timed_out);
  ASSERT_TRUE(r.exited) << "ended by signal " << r.term_signal;
  EXPECT_EQ(r.exit_code, 255);
  EXPECT_EQ(r.out, kModeList);

  // Standard error: the usage line first, the mote-count line and two empty
  // lines (around the mode list on standard output) last.
  EXPECT_TRUE(r.err.starts_with(std::string("Usage: ") + kProgramName +
                                " [options] num_nodes\n  [options] are:\n"))
      << r.err;
  EXPECT_TRUE(r.err.ends_with("\n  num_nodes         number of nodes to simulate\n\n\n"))
      << r.err;

  // Every documented line, verbatim and in order.
  const std::vector<std::string> lines = lines_of(r.err);
  auto at = lines.begin();
  for (const std::string& wanted : documented_help_lines()) {
    auto found = std::find(at, lines.end(), wanted);
    EXPECT_NE(found, lines.end()) << "missing or out of order: " << wanted;
    if (found != lines.end()) at = found + 1;
  }

  // The -cpuprof line is free in wording but keeps the layout of the others:
  // the option at column 2, its description at column 20, after -p.
  auto cpuprof = std::find_if(lines.begin(), lines.end(), [](const std::string& line) {
    return line.starts_with("  -cpuprof ");
  });
  ASSERT_NE(cpuprof, lines.end()) << r.err;
  EXPECT_TRUE(cpuprof->starts_with("  -cpuprof          ")) << *cpuprof;
  EXPECT_GT(cpuprof->size(), 20u) << *cpuprof;
  if (cpuprof->size() > 20) {
    EXPECT_NE((*cpuprof)[20], ' ') << *cpuprof;
  }
  EXPECT_GT(cpuprof - lines.begin(),
            std::find(lines.begin(), lines.end(), "  -p                do power profiling") -
                lines.begin());
}

INSTANTIATE_TEST_SUITE_P(
    CommandLine, HelpRequest,
    ::testing::Values(HelpCase{"LoneShortOption", {"-h"}}, HelpCase{"LoneLongOption", {"--help"}},
                      HelpCase{"ShortOptionBeforeMoteCount", {"-h", "3"}},
                      HelpCase{"LongOptionAmongOptions", {"-t=1", "--help", "3"}},
                      // Help wins over a mote count that would be refused.
                      HelpCase{"BeforeInvalidMoteCount", {"-h", "0"}}),
    [](const ::testing::TestParamInfo<HelpCase>& info) { return info.param.name; });

// 1000 motes is the largest count. All of them get a boot event; to keep the
// run short only the motes due in the first second boot.
TEST(CommandLine, ThousandMotesRun) {
  const std::vector<int64_t> times = expected_boot_times(1, 10, 1000);
  std::vector<std::string> scheduled;
  std::size_t due = 0;
  for (int64_t time : times) {
    scheduled.push_back("999: BOOT: Scheduling for boot at " + format_ticks(time) + ".");
    if (time < 4000000) ++due;
  }
  ASSERT_GT(due, 0u);

  ProcessResult r = run_brelo({"-seed=1", "-b=10", "-t=1", "1000"}, dbg_set("boot"));
  ASSERT_FALSE(r.timed_out);
  ASSERT_TRUE(r.exited);
  EXPECT_EQ(r.exit_code, 0);
  EXPECT_EQ(r.err, "");
  EXPECT_EQ(lines_containing(r.out, "BOOT: Scheduling for boot"), scheduled);
  // The boot due next after the limit may be the event that ends the run.
  std::size_t booted = lines_containing(r.out, "BOOT: Mote booting").size();
  EXPECT_GE(booted, due);
  EXPECT_LE(booted, due + 1);
  EXPECT_TRUE(completed_once(r.out, 1000));
}

TEST(CommandLine, ZeroBootWindowIsAccepted) {
  ProcessResult r = run_brelo({"-t=1", "-b=0", "2"}, dbg_set(""));
  ASSERT_TRUE(r.exited);
  EXPECT_EQ(r.exit_code, 0);
  EXPECT_EQ(r.out, "Simulation of 2 motes completed.\n");
  EXPECT_EQ(r.err, "");
}

TEST(CommandLine, KnownModelNamesAreAccepted) {
  ProcessResult r =
      run_brelo({"-r=simple", "-a=random", "-t=1", "-b=0", "2"}, dbg_set(""));
  ASSERT_TRUE(r.exited);
  EXPECT_EQ(r.exit_code, 0);
  EXPECT_EQ(r.out, "Simulation of 2 motes completed.\n");
  EXPECT_EQ(r.err, "");

  r = run_brelo({"-a=generic", "-t=1", "-b=0", "2"}, dbg_set(""));
  ASSERT_TRUE(r.exited);
  EXPECT_EQ(r.exit_code, 0);
  EXPECT_EQ(r.err, "");
}

}  // namespace
}  // namespace e2e

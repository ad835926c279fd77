#include "kernel/command_line.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

namespace {
ParsedCommandLine parse(std::vector<std::string> args) { return parse_command_line(args); }
}  // namespace

TEST(CommandLine, DefaultsWithOnlyAMoteCount) {
  ParsedCommandLine p = parse({"7"});
  ASSERT_EQ(p.error, CommandLineError::none);
  EXPECT_EQ(p.options.num_nodes, 7);
  EXPECT_EQ(p.options.motes_to_boot, 7);
  EXPECT_EQ(p.options.boot_window, 10);
  EXPECT_EQ(p.options.stop_time, 0);
  EXPECT_DOUBLE_EQ(p.options.rate, 1000.0);
  EXPECT_FALSE(p.options.seed.has_value());
  EXPECT_FALSE(p.options.radio_model.has_value());
}

TEST(CommandLine, EveryOptionIsRead) {
  ParsedCommandLine p = parse({"-gui", "-nodbgout", "-a=random", "-b=3", "-ef=store", "-l=2.5",
                               "-s=2", "-t=7", "-seed=42", "-p", "-cpuprof", "-stats=s.json",
                               "-energy=e.txt", "-trace=run.pcap", "9"});
  ASSERT_EQ(p.error, CommandLineError::none);
  const SimOptions& o = p.options;
  EXPECT_TRUE(o.gui);
  EXPECT_TRUE(o.nodbgout);
  EXPECT_EQ(o.adc_model, "random");
  EXPECT_EQ(o.boot_window, 3);
  EXPECT_EQ(o.eeprom_file, "store");
  EXPECT_DOUBLE_EQ(o.rate, 2.5);
  EXPECT_EQ(o.motes_to_boot, 2);
  EXPECT_EQ(o.stop_time, 28000000);
  EXPECT_EQ(o.seed, 42);
  EXPECT_TRUE(o.power_profiling);
  EXPECT_TRUE(o.cpu_profiling);
  EXPECT_EQ(o.stats_file, "s.json");  // not taken for -s=
  EXPECT_EQ(o.energy_file, "e.txt");  // nor for -ef=
  EXPECT_EQ(o.trace_file, "run.pcap");
  EXPECT_EQ(o.num_nodes, 9);
}

TEST(CommandLine, LossyFileSelectsLossyUntilALaterRadioOption) {
  ParsedCommandLine p = parse({"-r=simple", "-rf=links.nss", "4"});
  EXPECT_EQ(p.options.radio_model, "lossy");
  EXPECT_EQ(p.options.lossy_file, "links.nss");
  p = parse({"-rf=links.nss", "-r=simple", "4"});
  EXPECT_EQ(p.options.radio_model, "simple");
  EXPECT_EQ(p.options.lossy_file, "links.nss");
}

TEST(CommandLine, StopTimeIsComputedIn64Bits) {
  EXPECT_EQ(parse({"-t=1000", "1"}).options.stop_time, 4000000000LL);
  EXPECT_EQ(parse({"-t=2147483647", "1"}).options.stop_time, 2147483647LL * 4000000);
}

TEST(CommandLine, MotesToBootIsClampedToTheMoteCount) {
  EXPECT_EQ(parse({"-s=20", "10"}).options.motes_to_boot, 10);
  EXPECT_EQ(parse({"-s=-4", "10"}).options.motes_to_boot, 10);
  EXPECT_EQ(parse({"-s=0", "10"}).options.motes_to_boot, 0);
  EXPECT_EQ(parse({"-s=3", "10"}).options.motes_to_boot, 3);
}

TEST(CommandLine, NumbersAreReadLikeAtoi) {
  EXPECT_EQ(atoi_clamped("12abc"), 12);
  EXPECT_EQ(atoi_clamped("abc"), 0);
  EXPECT_EQ(atoi_clamped("  -5"), -5);
  EXPECT_EQ(atoi_clamped("99999999999999"), 2147483647);
  EXPECT_EQ(atoi_clamped("-99999999999999"), -2147483647 - 1);
  EXPECT_EQ(parse({"-b=", "3"}).options.boot_window, 0);
}

TEST(CommandLine, HelpAnywhereBeforeTheLastArgument) {
  EXPECT_EQ(parse({"-t=3", "-h", "5"}).error, CommandLineError::help);
  EXPECT_EQ(parse({"--help", "5"}).error, CommandLineError::help);
  // As the last argument it is the mote count, which is not a number.
  EXPECT_EQ(parse({"-t=3", "-h"}).error, CommandLineError::usage);
}

TEST(CommandLine, ErrorsStopAtTheFirstBadArgument) {
  EXPECT_EQ(parse({"-x", "-b=-1", "5"}).error, CommandLineError::usage);
  ParsedCommandLine p = parse({"-b=-1", "-x", "5"});
  EXPECT_EQ(p.error, CommandLineError::bad_boot_window);
  EXPECT_EQ(p.error_text, "-1");
  EXPECT_EQ(parse({"-s", "5"}).error, CommandLineError::usage);
  EXPECT_EQ(parse({"-p=1", "5"}).error, CommandLineError::usage);
}

TEST(CommandLine, RateMustBeAPositiveNumber) {
  for (const char* rate : {"-l=0", "-l=-1", "-l=abc", "-l=nan"}) {
    ParsedCommandLine p = parse({rate, "5"});
    EXPECT_EQ(p.error, CommandLineError::bad_rate) << rate;
    EXPECT_EQ(p.error_text, std::string(rate).substr(3));
  }
  EXPECT_EQ(parse({"-l=0.001", "5"}).error, CommandLineError::none);
}

TEST(CommandLine, RateIsCheckedBeforeTheMoteCount) {
  EXPECT_EQ(parse({"-l=0", "0"}).error, CommandLineError::bad_rate);
}

TEST(CommandLine, MoteCountMustBeAtLeastOne) {
  EXPECT_EQ(parse({"0"}).error, CommandLineError::usage);
  EXPECT_EQ(parse({"ten"}).error, CommandLineError::usage);
  EXPECT_EQ(parse({"-t=5"}).error, CommandLineError::usage);
  // Above the limit is reported later, after profiling is set up.
  EXPECT_EQ(parse({"1001"}).error, CommandLineError::none);
}

TEST(CommandLine, PortMovesBothControlPorts) {
  EXPECT_EQ(parse({"3"}).options.control_port, 10584);
  EXPECT_EQ(parse({"-port=20000", "3"}).options.control_port, 20000);
  EXPECT_EQ(parse({"-port=65534", "3"}).options.control_port, 65534);
  // The event port is the next one, so the last port cannot be the command port.
  for (const char* port : {"-port=0", "-port=65535", "-port=-3", "-port=x"}) {
    ParsedCommandLine p = parse({port, "3"});
    EXPECT_EQ(p.error, CommandLineError::bad_port) << port;
    EXPECT_EQ(p.error_text, std::string(port).substr(6));
  }
}

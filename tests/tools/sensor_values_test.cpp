// Sensor values as a 10-bit converter gives them, end to end through
// brelo-ctl run: a sensor setting above 1023 is refused at its line before
// anything runs, a raw 'port N' value is set with a warning, and a setting
// that names a sensor reaches that sensor's readings.

#include <gtest/gtest.h>

#include "run_results.hpp"

namespace query_run_test {
namespace {
using control_test::run_tool;

TEST(SensorValues, ASettingAboveTheConverterRangeIsRefusedAtItsLine) {
  TempFile file(
      "motes 2\nuntil 5\nadc 1 light 1200\nquery 1 at 2\non mote 0\n"
      "  stream s = sensor light every 1\n  serial s\n");
  control_test::ToolResult r = run_tool({"run", file.path()});
  EXPECT_EQ(r.status.code, 2);
  EXPECT_EQ(r.out, "");
  EXPECT_NE(r.err.find(file.path() + ":3: the light converter gives 0 to 1023 (10 bits), not 1200"),
            std::string::npos)
      << r.err;

  r = run_tool({"run", example("projection"), "--adc", "0 light 5; 0 temperature 1024"});
  EXPECT_EQ(r.status.code, 2);
  EXPECT_NE(r.err.find("--adc:2: the temperature converter gives 0 to 1023 (10 bits), not 1024"),
            std::string::npos)
      << r.err;
}

TEST(SensorValues, ASettingReachesItsSensorsReadingsAndARawValueIsWarnedAbout) {
  // The magnetometer is read from the value table's entries 120 and 121,
  // not from a converter port.
  TempFile file(
      "motes 1\nuntil 6\nadc 0 magx 400\nadc 0 port 121 1200\nquery 1 at 2\non mote 0\n"
      "  stream x = sensor magx every 1\n  serial x\n");
  RunOutput run = run_json(file.path());
  EXPECT_EQ(run.tool.status.code, 0) << run.tool.err;
  EXPECT_NE(run.tool.err.find(file.path() +
                              ":4: warning: 1200 is above 1023, the largest value of a 10-bit "
                              "converter: records carry 300 (the value / 4), and aggregates "
                              "compare only its low byte, 44"),
            std::string::npos)
      << run.tool.err;
  ASSERT_GE(run.rows.size(), 3u);
  for (const Row& r : run.rows) {
    ASSERT_EQ(r.fields.size(), 1u);
    EXPECT_EQ(r.fields.begin()->second, 100);
  }
}

}  // namespace
}  // namespace query_run_test

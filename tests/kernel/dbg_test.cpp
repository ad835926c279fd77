#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "kernel/client_events.hpp"
#include "kernel/dbg.hpp"
#include "support/world_test.hpp"

using testing::internal::CaptureStderr;
using testing::internal::CaptureStdout;
using testing::internal::GetCapturedStderr;
using testing::internal::GetCapturedStdout;

namespace {
using DbgModes = WorldTest;

VEX_dbg_mode modes_after(const char* text) {
  dbg_set(0);
  dbg_add_modes(text);
  return dbg_modes;
}

struct SeenLine {
  uint16_t mote;
  vex_time_t time;
  std::string text;
  bool zero_padded;
};
std::vector<SeenLine> seen;

void record_line(uint16_t mote, uint16_t type, vex_time_t time, const void* payload,
                 std::size_t length) {
  ASSERT_EQ(type, AM_DEBUGMSGEVENT);
  ASSERT_EQ(length, DBG_CLIENT_LINE_SIZE);
  const char* line = static_cast<const char*>(payload);
  bool padded = true;
  for (std::size_t i = std::string(line).size(); i < DBG_CLIENT_LINE_SIZE; ++i) padded &= line[i] == 0;
  seen.push_back({mote, time, line, padded});
}
}  // namespace

TEST_F(DbgModes, NamedModesAlsoEnableErrors) {
  EXPECT_EQ(modes_after("boot,clock"), DBG_BOOT | DBG_CLOCK | DBG_ERROR);
  EXPECT_EQ(modes_after("error"), DBG_ERROR);
  EXPECT_EQ(modes_after("none"), 0);
  EXPECT_EQ(modes_after("simmem,hardware"), DBG_MEM | DBG_HARD | DBG_ERROR);
}

TEST_F(DbgModes, LeadingMinusCancelsAMode) {
  EXPECT_EQ(modes_after("all,-radio"), DBG_ALL & ~(DBG_RADIO | DBG_ERROR));
  EXPECT_EQ(modes_after("-boot"), 0);
  EXPECT_EQ(modes_after("boot,-error"), DBG_BOOT);
}

TEST_F(DbgModes, EmptyPiecesAreSkipped) {
  EXPECT_EQ(modes_after(",,boot,,"), DBG_BOOT | DBG_ERROR);
  EXPECT_EQ(modes_after(""), 0);
}

TEST_F(DbgModes, UnknownNameWarnsAndTheOtherPiecesStillApply) {
  CaptureStderr();
  VEX_dbg_mode modes = modes_after("Boot,clock,-Radio");
  std::string err = GetCapturedStderr();
  EXPECT_EQ(modes, DBG_CLOCK | DBG_ERROR);
  EXPECT_EQ(err,
            "Warning: Unknown debug option: \"Boot\"\n"
            "Warning: Unknown debug option: \"Radio\"\n");
}

TEST_F(DbgModes, AValueOfAnyLengthIsUsedWhole) {
  std::string value;
  for (int i = 0; i < 2000; ++i) value += "boot,";
  value += "clock";  // far beyond any fixed working buffer
  EXPECT_EQ(modes_after(value.c_str()), DBG_BOOT | DBG_CLOCK | DBG_ERROR);
}

TEST_F(DbgModes, InitWithoutTheVariableEnablesEverything) {
  unsetenv("DBG");
  dbg_init();
  EXPECT_EQ(dbg_modes, DBG_ALL);
  setenv("DBG", "", 1);
  dbg_init();
  EXPECT_EQ(dbg_modes, 0);
  setenv("DBG", "led", 1);
  dbg_init();
  EXPECT_EQ(dbg_modes, DBG_LED | DBG_ERROR);
  unsetenv("DBG");
}

TEST_F(DbgModes, HelpListsEveryNameInTableOrder) {
  CaptureStdout();
  dbg_help();
  EXPECT_EQ(GetCapturedStdout(),
            "Known dbg modes: all, boot, clock, task, sched, sensor, led, crypto, route, am, crc, "
            "packet, encode, radio, logger, adc, i2c, uart, prog, sounder, time, power, sim, queue, "
            "simradio, hardware, simmem, usr1, usr2, usr3, temp, error, none\n");
}

using DbgOutput = WorldTest;

TEST_F(DbgOutput, DbgPrefixesTheCurrentMoteAndDbgClearDoesNot) {
  dbg_set(DBG_BOOT);
  vex_state.current_node = 42;
  CaptureStdout();
  dbg(DBG_BOOT, "value %d\n", 7);
  dbg_clear(DBG_BOOT, "plain %s\n", "line");
  dbg(DBG_CLOCK, "never printed\n");
  EXPECT_EQ(GetCapturedStdout(), "42: value 7\nplain line\n");
}

TEST_F(DbgOutput, ArgumentsOfADisabledLineAreNotEvaluated) {
  int evaluations = 0;
  auto costly = [&evaluations] { return ++evaluations; };
  dbg_set(DBG_BOOT);
  CaptureStdout();
  dbg(DBG_RADIO, "%d\n", costly());
  dbg(DBG_BOOT, "%d\n", costly());
  GetCapturedStdout();
  EXPECT_EQ(evaluations, 1);
}

TEST_F(DbgOutput, ClientsGetEveryLineExceptSimulatorHousekeeping) {
  seen.clear();
  dbg_set(DBG_ALL);
  set_client_event_sink(record_line);
  vex_state.current_node = 3;
  vex_state.vex_time = 1234;
  CaptureStdout();
  dbg(DBG_BOOT, "boot %d\n", 1);
  dbg_clear(DBG_SIM, "housekeeping\n");
  dbg(DBG_SIM | DBG_BOOT, "also housekeeping\n");
  GetCapturedStdout();
  ASSERT_EQ(seen.size(), 1u);
  EXPECT_EQ(seen[0].mote, 3);
  EXPECT_EQ(seen[0].time, 1234);
  EXPECT_EQ(seen[0].text, "boot 1\n");  // the client line carries no prefix
  EXPECT_TRUE(seen[0].zero_padded);
}

TEST_F(DbgOutput, ClientLinesAreCutTo511Characters) {
  seen.clear();
  dbg_set(DBG_ALL);
  dbg_suppress_stdout = true;
  set_client_event_sink(record_line);
  std::string long_text(700, 'x');
  dbg(DBG_USR1, "%s", long_text.c_str());
  ASSERT_EQ(seen.size(), 1u);
  EXPECT_EQ(seen[0].text, std::string(511, 'x'));
}

TEST_F(DbgOutput, SuppressedStdoutStillFeedsClients) {
  seen.clear();
  dbg_set(DBG_ALL);
  dbg_suppress_stdout = true;
  set_client_event_sink(record_line);
  CaptureStdout();
  dbg(DBG_LED, "led\n");
  EXPECT_EQ(GetCapturedStdout(), "");
  EXPECT_EQ(seen.size(), 1u);
}

TEST_F(DbgOutput, StdoutLinesAreNotCut) {
  dbg_set(DBG_ALL);
  std::string long_text(2000, 'y');
  CaptureStdout();
  dbg_clear(DBG_USR2, "%s\n", long_text.c_str());
  EXPECT_EQ(GetCapturedStdout(), long_text + "\n");
}

TEST(TimeFormat, HoursMinutesSecondsAndTenNanosecondUnits) {
  char text[128];
  printOtherTime(text, sizeof text, 0);
  EXPECT_STREQ(text, "0:0:0.00000000");
  printOtherTime(text, sizeof text, 4000000LL * 3725 + 2000000);
  EXPECT_STREQ(text, "1:2:5.50000000");
  printOtherTime(text, sizeof text, 1);
  EXPECT_STREQ(text, "0:0:0.00000025");
  printOtherTime(text, sizeof text, 4000000LL * 60 * 60 * 100 + 3999999);
  EXPECT_STREQ(text, "100:0:0.99999975");
}

TEST(TimeFormat, OutputIsBoundedByTheBuffer) {
  char text[6];
  printOtherTime(text, sizeof text, 4000000LL * 3725 + 2000000);
  EXPECT_STREQ(text, "1:2:5");
}

TEST_F(DbgOutput, CurrentTimeFormatsVirtualTime) {
  vex_state.vex_time = 4000000LL * 61;
  EXPECT_STREQ(currentTime(), "0:1:1.00000000");
}

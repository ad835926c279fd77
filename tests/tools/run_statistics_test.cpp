// brelo-ctl run --stats and --energy: the counts of a run in which every
// packet can be accounted for, from the statistics file brelo writes and
// the tables the runner prints from it.

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iomanip>
#include <sstream>

#include "lib/json_reader.hpp"
#include "run_results.hpp"

namespace query_run_test {
namespace {
using brelo_host::JsonValue;

// Mote 1 samples its light sensor every second and sends each reading to
// mote 0 over remote stream 9; mote 0 hands what arrives to the host.
// Seven operator messages, four of them for mote 1.
const char* const kTwoMoteCollection =
    "motes 2\nuntil 10\nadc 1 light 400\n"
    "query 1 at 2\n"
    "on mote 0\n  stream arriving = remote 9 buffer 8\n  serial arriving\n"
    "on mote 1\n  stream light = sensor light every 1\n  stream to_base = remote 9 to 0\n"
    "  send light -> to_base\n";

JsonValue read_stats(const std::string& path) {
  std::ifstream in(path);
  std::stringstream text;
  text << in.rdbuf();
  std::string why;
  std::optional<JsonValue> stats = brelo_host::parse_json(text.str(), why);
  EXPECT_TRUE(stats.has_value()) << why;
  return stats.value_or(JsonValue{});
}

TEST(RunStatistics, EveryPacketOfATwoMoteCollectionIsAccountedFor) {
  TempFile file(kTwoMoteCollection);
  const std::string dir = file.path() + ".out";
  RunOutput run = run_json(file.path(), {"--stats", "--energy", "--out", dir});
  ASSERT_EQ(run.tool.status.code, 0) << run.tool.err;
  const double results = static_cast<double>(run.rows.size());
  ASSERT_GE(results, 6);  // a reading a second from 2 s to 10 s

  JsonValue stats = read_stats(dir + "/stats.json");
  std::filesystem::remove_all(dir);
  const std::vector<JsonValue>& motes = stats.find("motes")->items;
  ASSERT_EQ(motes.size(), 2u);
  const JsonValue& base = motes[0];
  const JsonValue& source = motes[1];

  // Every operator message enters mote 0's serial port; the four for
  // mote 1 leave by radio, each acknowledged.
  EXPECT_EQ(base.number_at("serial_received"), 7);
  EXPECT_EQ(base.number_at("packets_sent"), 4);
  EXPECT_EQ(base.number_at("packets_acknowledged"), 4);
  // Mote 1 reads each reading, writes it into the remote stream, and its
  // channel sends one OPEN and then one WRITE per record; mote 0 acknowledges all.
  EXPECT_EQ(source.number_at("records_read"), results);
  EXPECT_EQ(source.number_at("records_written"), results);
  EXPECT_EQ(source.number_at("packets_sent"), results + 1);
  EXPECT_EQ(source.number_at("packets_acknowledged"), results + 1);
  // With two motes in reach of each other and one sender at a time, each
  // hears every frame of the other, all of them intact.
  EXPECT_EQ(base.number_at("packets_received"), source.number_at("packets_sent"));
  EXPECT_EQ(source.number_at("packets_received"), base.number_at("packets_sent"));
  EXPECT_EQ(base.number_at("packets_crc_failed"), 0);
  EXPECT_EQ(source.number_at("packets_crc_failed"), 0);
  // Mote 0's serial output operator reads each record and sends it to the
  // host, which is all mote 0 sends there.
  EXPECT_EQ(base.number_at("records_read"), results);
  EXPECT_EQ(base.number_at("results"), results);
  EXPECT_EQ(base.number_at("serial_sent"), results);
  EXPECT_EQ(source.number_at("results"), 0);
  EXPECT_EQ(source.number_at("serial_sent"), 0);

  // Motes boot within the file's first second and stay on; the run ends
  // with the first event at or after 10 s.
  const double until = stats.find("run")->number_at("virtual_seconds");
  EXPECT_NEAR(until, 10, 0.001);
  for (const JsonValue& mote : motes) {
    EXPECT_GT(mote.number_at("on_seconds"), until - 1);
    EXPECT_LE(mote.number_at("on_seconds"), until);
  }
  // The sender transmits for its frames; both light LEDs as the engine
  // toggles them; the energies add up to the total.
  const JsonValue& energy = *source.find("energy_mJ");
  EXPECT_GT(energy.number_at("radio_transmit"), 0);
  double sum = 0;
  for (const auto& [state, mJ] : energy.members) {
    if (state != "total") sum += mJ.number;
  }
  EXPECT_NEAR(sum, energy.number_at("total"), 1e-5);

  // The tables on standard error: one row per mote, as the file says.
  std::ostringstream row;
  row << "   1 " << std::setw(10) << results + 1 << " " << std::setw(10) << 4;
  EXPECT_NE(run.tool.err.find("mote       sent   received crc_failed      acked"), std::string::npos)
      << run.tool.err;
  EXPECT_NE(run.tool.err.find(row.str()), std::string::npos) << run.tool.err;
  EXPECT_NE(run.tool.err.find("energy in mJ at 3 V"), std::string::npos) << run.tool.err;
}

TEST(RunStatistics, StatisticsNeedASimulationTheRunnerStarts) {
  TempFile file(kTwoMoteCollection);
  control_test::ToolResult r = control_test::run_tool({"run", file.path(), "--stats", "--attach"});
  EXPECT_EQ(r.status.code, 2);
  EXPECT_NE(r.err.find("--stats and --energy need a simulation brelo-ctl starts"), std::string::npos)
      << r.err;
}

}  // namespace
}  // namespace query_run_test

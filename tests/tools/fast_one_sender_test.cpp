// In fast mode, receivers locked onto a frame take it a byte at a time. With
// one sender at a time nothing collides, so a fast run must deliver the very
// records of the exact run and count the same packets, CRC failures and
// energy on every mote, while handling far fewer events.

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>

#include "lib/json_reader.hpp"
#include "run_results.hpp"

namespace query_run_test {
namespace {
using brelo_host::JsonValue;

// Mote 1 alone sends, a reading every half second to mote 0; twelve
// bystanders hear every frame, and mote 0 acknowledges each.
const char* const kOneSenderManyListeners =
    "motes 14\nuntil 12\nadc 1 light 400\n"
    "query 1 at 2\n"
    "on mote 0\n  stream arriving = remote 9 buffer 8\n  serial arriving\n"
    "on mote 1\n  stream light = sensor light every 0.5\n  stream to_base = remote 9 to 0\n"
    "  send light -> to_base\n";

struct RunResult {
  std::vector<Row> rows;
  JsonValue stats;
};

RunResult run_once(const std::string& file, bool fast) {
  const std::string dir = file + (fast ? ".fast" : ".exact");
  std::vector<std::string> extra{"--stats", "--out", dir};
  if (fast) extra.push_back("--fast");
  RunOutput out = run_json(file, extra);
  EXPECT_EQ(out.tool.status.code, 0) << out.tool.err;
  std::ifstream in(dir + "/stats.json");
  std::stringstream text;
  text << in.rdbuf();
  std::string why;
  std::optional<JsonValue> stats = brelo_host::parse_json(text.str(), why);
  EXPECT_TRUE(stats.has_value()) << why;
  std::filesystem::remove_all(dir);
  return {out.rows, stats.value_or(JsonValue{})};
}

TEST(FastOneSender, DeliversTheRecordsAndCountsOfTheExactRun) {
  TempFile file(kOneSenderManyListeners);
  RunResult exact = run_once(file.path(), false);
  RunResult fast = run_once(file.path(), true);

  ASSERT_GE(exact.rows.size(), 15u);  // two readings a second from 2 s on
  ASSERT_EQ(fast.rows.size(), exact.rows.size());
  for (std::size_t i = 0; i < exact.rows.size(); ++i) {
    const Row& a = exact.rows[i];
    const Row& b = fast.rows[i];
    EXPECT_EQ(a.time, b.time) << "row " << i;
    EXPECT_EQ(a.mote, b.mote) << "row " << i;
    EXPECT_EQ(a.timestamp, b.timestamp) << "row " << i;
    EXPECT_EQ(a.fields, b.fields) << "row " << i;
  }

  const std::vector<JsonValue>& exact_motes = exact.stats.find("motes")->items;
  const std::vector<JsonValue>& fast_motes = fast.stats.find("motes")->items;
  ASSERT_EQ(exact_motes.size(), 14u);
  ASSERT_EQ(fast_motes.size(), 14u);
  for (std::size_t m = 0; m < exact_motes.size(); ++m) {
    for (const char* counter : {"packets_sent", "packets_received", "packets_crc_failed",
                                "packets_acknowledged", "records_written"}) {
      EXPECT_EQ(exact_motes[m].number_at(counter), fast_motes[m].number_at(counter))
          << counter << " of mote " << m;
    }
    EXPECT_EQ(exact_motes[m].find("energy_mJ")->number_at("total"),
              fast_motes[m].find("energy_mJ")->number_at("total"))
        << "energy of mote " << m;
  }
  // Every bystander did receive the frames (mote 1 sends one per record).
  EXPECT_GE(exact_motes[7].number_at("packets_received"), exact.rows.size());

  // The bystanders' bits were not stepped one event each.
  const double exact_events = exact.stats.find("run")->number_at("events");
  const double fast_events = fast.stats.find("run")->number_at("events");
  EXPECT_LT(fast_events, exact_events / 3) << exact_events << " against " << fast_events;
}

}  // namespace
}  // namespace query_run_test

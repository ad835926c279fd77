// The query compiler and the engine agree on every table entry: the
// messages compiled from a query file, decoded by the motes they are for,
// fill the open and operator entries the compiler planned, holding the
// streams, destinations, operator kinds and fields it planned. Operators
// name their streams by open-table index, so any disagreement here breaks
// a query silently on the motes.

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "queryfile/query_compile.hpp"
#include "queryfile/query_file.hpp"
#include "network_queries.hpp"
#include "query_fixture.hpp"

namespace query_test {
namespace {
using query_file::PlannedEntry;
using query_file::StreamKind;
using query_file::TimedMessage;

class CompilerContract : public QueryTest {
 protected:
  // Compiles `text`, hands each message to its mote at its time, and checks
  // the entry it planned after each one.
  void install_and_check(const std::string& text, const std::string& name) {
    auto parsed = query_file::parse(text, name);
    ASSERT_TRUE(parsed.errors.empty()) << parsed.errors.front().text;
    auto compiled = query_file::compile(parsed.file);
    ASSERT_TRUE(compiled.errors.empty()) << compiled.errors.front().text;
    const auto& plan = compiled.plan;
    // The air reaches every mote of the network the file asks for.
    vex_state.num_nodes = std::max<int>(vex_state.num_nodes, plan.motes);
    for (uint16_t m = 0; m < plan.motes; ++m) boot({m});
    ASSERT_FALSE(plan.messages.empty());
    for (const TimedMessage& t : plan.messages) {
      if (t.time > vex_state.vex_time) run_for(t.time - vex_state.vex_time);
      decode(t.to, t.message);
      drain();
      SCOPED_TRACE(name + ":" + std::to_string(t.line) + " on mote " + std::to_string(t.to));
      expect_installed(t);
    }
  }

 private:
  static void expect_installed(const TimedMessage& t) {
    const PlannedEntry& p = t.planned;
    const auto& m = t.message;
    if (p.table == PlannedEntry::Table::opens) {
      const open_table_entry& e = open_of(t.to, p.index);
      ASSERT_EQ(e.validity, 1) << "open entry " << p.index << " not taken";
      EXPECT_EQ(e.query_id, m.query_id);
      EXPECT_EQ(e.buffer_size, m.buffer_size);
      const bool sensor = e.sensor_tid != 0;
      const bool remote = !sensor && e.symbolic_name != 0;
      switch (p.stream) {
        case StreamKind::sensor:
          EXPECT_TRUE(sensor);
          EXPECT_EQ(e.stream_rate, m.stream_rate);
          EXPECT_EQ(e.sampling_type, m.sampling_type);
          break;
        case StreamKind::local: EXPECT_FALSE(sensor || remote); break;
        // The engine takes a remote open for the reading side exactly when
        // it names the mote itself.
        case StreamKind::remote_in:
          EXPECT_TRUE(remote);
          EXPECT_EQ(e.dest, t.to) << "read as a sending side";
          break;
        case StreamKind::remote_out:
          EXPECT_TRUE(remote);
          EXPECT_NE(e.dest, t.to) << "read as a reading side";
          EXPECT_EQ(e.dest, p.to) << "sends to the wrong mote";
          break;
      }
    } else if (p.table == PlannedEntry::Table::operators) {
      const operator_table_entry& e = op_of(t.to, p.index);
      EXPECT_EQ(e.operator_, p.kind) << "operator entry " << p.index;
      EXPECT_EQ(e.query_id, m.query_id);
      EXPECT_EQ(e.stream_input1, m.stream_input1);
      EXPECT_EQ(e.stream_input2, m.stream_input2);
      EXPECT_EQ(e.stream_output, m.stream_output);
      EXPECT_EQ(e.predicate, m.predicate);
      EXPECT_EQ(e.field1, m.field1);
      EXPECT_EQ(e.field2, m.field2);
      EXPECT_EQ(e.constant, m.constant);
      EXPECT_EQ(e.constant2, m.constant2);
      EXPECT_EQ(e.constant3, m.constant3);
    }
  }
};

std::string read_file(const std::filesystem::path& path) {
  std::ifstream in(path);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

TEST_F(CompilerContract, EveryExampleInstallsAsPlanned) {
  for (const auto& entry : std::filesystem::directory_iterator(EXAMPLES_DIR)) {
    if (entry.path().extension() != ".query") continue;
    SCOPED_TRACE(entry.path().filename().string());
    install_and_check(read_file(entry.path()), entry.path().string());
    SetUp();  // a fresh network for the next file
  }
}

TEST_F(CompilerContract, RelayThroughAMoteOtherThanTheBase) {
  install_and_check(kRelayQuery, "relay.query");
}

TEST_F(CompilerContract, ChainAndEntriesReusedAfterAStop) {
  install_and_check(std::string(kChainQuery) + R"(stop 1 at 6
query 2 at 8
on mote 0
  stream temp = sensor temperature every 1
  stream warm = local
  select temp -> warm where field 3 > 10
  serial warm
)",
                    "chain.query");
}
}  // namespace
}  // namespace query_test

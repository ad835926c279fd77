// Packet traces read by the real Wireshark: tshark with our dissector reads
// the trace of an example run without complaint, decodes a known packet to
// the values the query file was compiled to, and counts as many packets
// sent, received and failing their CRC as the simulation itself reported.

#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <map>
#include <sstream>

#include <gtest/gtest.h>

#include "lib/json_reader.hpp"
#include "../control/brelo_process.hpp"
#include "lib/session.hpp"
#include "protocol/debug_modes.hpp"
#include "run_results.hpp"

namespace {
using control_test::ChildProcess;
using std::chrono::milliseconds;

// tshark on the PATH, or empty.
std::string tshark_program() {
  const char* path = std::getenv("PATH");
  std::istringstream folders(path != nullptr ? path : "/usr/bin");
  for (std::string folder; std::getline(folders, folder, ':');) {
    std::string candidate = folder + "/tshark";
    if (::access(candidate.c_str(), X_OK) == 0) return candidate;
  }
  return {};
}

struct TsharkOutput {
  bool ran_cleanly = false;  // exit status 0 and nothing on standard error but the root notice
  std::string complaints;
  std::vector<std::vector<std::string>> rows;  // one per packet, one cell per field
};

// tshark -X lua_script:brelo.lua -r TRACE [-Y FILTER] -T fields -e F1 -e F2 ...
TsharkOutput tshark_fields(const std::string& trace, const std::vector<std::string>& fields,
                           const std::string& filter = {}) {
  std::vector<std::string> args = {"tshark", "-X", std::string("lua_script:") + DISSECTOR, "-r", trace,
                                   "-T", "fields", "-E", "separator=,"};
  if (!filter.empty()) args.insert(args.end(), {"-Y", filter});
  for (const std::string& f : fields) args.insert(args.end(), {"-e", f});
  ChildProcess tshark(tshark_program(), args, {"HOME=" + ::testing::TempDir(), "PATH=/usr/bin:/bin"});
  brelo_host::ExitStatus status = tshark.wait(milliseconds(60000));
  TsharkOutput result;
  std::istringstream err(tshark.err());
  for (std::string line; std::getline(err, line);) {
    // tshark warns whoever runs it as root; that is not about the trace.
    if (line.find("Running as user \"root\"") == std::string::npos) result.complaints += line + "\n";
  }
  result.ran_cleanly = status.exited && status.code == 0 && result.complaints.empty();
  std::istringstream out(tshark.out());
  for (std::string line; std::getline(out, line);) {
    std::vector<std::string> cells;
    std::istringstream cell_text(line);
    for (std::string cell; std::getline(cell_text, cell, ',');) cells.push_back(cell);
    result.rows.push_back(cells);
  }
  return result;
}

std::string temp_trace(const std::string& name) {
  return ::testing::TempDir() + name + "_" + std::to_string(::getpid()) + ".pcap";
}

query_file::Plan compiled(const std::string& name) {
  std::ifstream in(query_run_test::example(name));
  std::stringstream text;
  text << in.rdbuf();
  query_file::ParseResult parsed = query_file::parse(text.str(), name);
  EXPECT_TRUE(parsed.errors.empty());
  query_file::CompileResult result = query_file::compile(parsed.file);
  EXPECT_TRUE(result.errors.empty());
  return result.plan;
}

class TraceInWireshark : public ::testing::Test {
 protected:
  void SetUp() override {
    if (tshark_program().empty()) GTEST_SKIP() << "tshark is not installed (scripts/setup.sh installs it)";
  }
};

constexpr const char* kSent = "0";
constexpr const char* kReceived = "1";
constexpr const char* kSerialToHost = "2";
constexpr const char* kSerialFromHost = "3";
constexpr const char* kRadioFromHost = "4";

int rows_with(const TsharkOutput& t, std::size_t column, const std::string& value) {
  int n = 0;
  for (const auto& row : t.rows) n += row.size() > column && row[column] == value ? 1 : 0;
  return n;
}
}  // namespace

// brelo-ctl run --trace: the operator messages the runner hands to mote 0,
// the ones mote 0 forwards, and the results it sends back, all decoded.
TEST_F(TraceInWireshark, ExampleRunIsDecodedDownToItsOperatorMessagesAndResults) {
  const std::string trace = temp_trace("collection");
  query_run_test::RunOutput run = query_run_test::run_json(query_run_test::example("collection"),
                                                           {"--trace", trace});
  ASSERT_EQ(run.tool.status.code, 0) << run.tool.err;
  ASSERT_FALSE(run.rows.empty());
  const query_file::Plan plan = compiled("collection");

  TsharkOutput t = tshark_fields(trace, {"brelo.dir", "brelo.mote", "brelo.am.type", "brelo.am.addr",
                                         "brelo.op.code", "brelo.op.query"});
  EXPECT_TRUE(t.ran_cleanly) << t.complaints;
  // Every message of the plan entered mote 0's serial port (or, for motes
  // out of its reach, a radio); every result left mote 0's serial port.
  EXPECT_EQ(rows_with(t, 0, kSerialFromHost) + rows_with(t, 0, kRadioFromHost),
            static_cast<int>(plan.messages.size()));
  EXPECT_EQ(rows_with(t, 0, kSerialToHost), static_cast<int>(run.rows.size()));

  // The first radio packet mote 0 sends is the plan's first message for
  // another mote, forwarded unchanged as a RadioMsg to that mote.
  const query_file::TimedMessage* first_forward = nullptr;
  for (const query_file::TimedMessage& m : plan.messages) {
    if (m.to != 0 && !m.direct) {
      first_forward = &m;
      break;
    }
  }
  ASSERT_NE(first_forward, nullptr);
  std::vector<std::string> first_sent;
  for (const auto& row : t.rows) {
    if (row.size() == 6 && row[0] == kSent && row[1] == "0") {
      first_sent = row;
      break;
    }
  }
  ASSERT_EQ(first_sent.size(), 6u);
  EXPECT_EQ(first_sent[2], "9");
  EXPECT_EQ(first_sent[3], std::to_string(first_forward->to));
  EXPECT_EQ(first_sent[4], std::to_string(first_forward->message.msg_type));
  EXPECT_EQ(first_sent[5], std::to_string(first_forward->message.query_id));
  std::remove(trace.c_str());
}

// Over a busy relay tree, where frames collide (twice, after 30 s): per
// mote, the packets the trace shows sent, received and failing their CRC
// against the simulation's own debug lines: the first start-symbol byte of
// each frame a radio sends, and the CRC filter's verdict on each frame a
// radio received.
TEST_F(TraceInWireshark, CountsPerMoteMatchTheSimulationsOwn) {
  const std::string trace = temp_trace("tree");
  query_file::Plan plan = compiled("tree_collection");
  brelo_host::SimulationSettings settings = brelo_host::settings_for(plan);
  settings.program = BRELO_BINARY;
  settings.rate = brelo_host::UNLIMITED_RATE;
  settings.trace_file = trace;
  const std::string stats = temp_trace("tree_stats") + ".json";
  settings.stats_file = stats;
  settings.event_mask = ctl::AM_DEBUGMSGEVENT | ctl::AM_RADIOMSGSENTEVENT;
  brelo_host::Session session(milliseconds(20000));
  ASSERT_TRUE(session.start(settings)) << session.error().text;
  ASSERT_TRUE(session.commands().set_dbg(DBG_CRC | DBG_PACKET)) << session.commands().error().text;
  ASSERT_TRUE(session.apply(plan)) << session.error().text;

  std::map<int, int> sent, completed, received, failed;
  brelo_host::PumpHandlers handlers;
  handlers.event = [&](const ctl::Event& e) {
    const int mote = e.header.moteID;
    if (std::holds_alternative<ctl::RadioMessageSent>(e.body)) ++completed[mote];
    if (const auto* line = std::get_if<ctl::DebugMessage>(&e.body)) {
      if (line->text.ends_with("Transmitting start symbol, byte 1\n")) ++sent[mote];
      if (line->text.find("CrcFilter: Packet passed CRC") != std::string::npos) ++received[mote];
      if (line->text.find("CrcFilter: Packet failed CRC") != std::string::npos) {
        ++received[mote];
        ++failed[mote];
      }
    }
  };
  ASSERT_TRUE(session.pump(static_cast<int64_t>(plan.until) * TICKS_PER_SECOND, handlers))
      << session.error().text;
  ASSERT_TRUE(session.end()) << session.error().text;

  TsharkOutput t = tshark_fields(trace, {"brelo.dir", "brelo.mote", "brelo.crc_ok"});
  ASSERT_TRUE(t.ran_cleanly) << t.complaints;
  std::map<int, int> traced_sent, traced_received, traced_failed;
  for (const auto& row : t.rows) {
    ASSERT_GE(row.size(), 2u);
    const int mote = std::stoi(row[1]);
    if (row[0] == kSent) ++traced_sent[mote];
    if (row[0] == kReceived) ++traced_received[mote];
  }
  // The lost packets, found with the filter docs/traces.md gives.
  TsharkOutput lost = tshark_fields(trace, {"brelo.mote"}, "brelo.crc_ok == 0");
  ASSERT_TRUE(lost.ran_cleanly) << lost.complaints;
  for (const auto& row : lost.rows) ++traced_failed[std::stoi(row.at(0))];

  EXPECT_EQ(traced_sent, sent);
  // A send completes after its frame, so one frame per mote may still have
  // been on the air when the run ended.
  for (const auto& [mote, count] : completed) {
    EXPECT_GE(traced_sent[mote], count);
    EXPECT_LE(traced_sent[mote], count + 1);
  }
  EXPECT_EQ(traced_received, received);
  EXPECT_EQ(traced_failed, failed);
  EXPECT_FALSE(failed.empty()) << "the run was meant to have collisions";

  // The statistics file counts the same frames: sends as they complete,
  // receptions and CRC failures at the same check as the trace.
  std::ifstream stats_in(stats);
  std::stringstream stats_text;
  stats_text << stats_in.rdbuf();
  std::string why;
  std::optional<brelo_host::JsonValue> report = brelo_host::parse_json(stats_text.str(), why);
  ASSERT_TRUE(report) << why;
  const brelo_host::JsonValue* motes = report->find("motes");
  ASSERT_NE(motes, nullptr);
  ASSERT_EQ(motes->items.size(), static_cast<std::size_t>(plan.motes));
  for (const brelo_host::JsonValue& m : motes->items) {
    const int mote = static_cast<int>(m.number_at("mote"));
    SCOPED_TRACE("mote " + std::to_string(mote));
    EXPECT_EQ(m.number_at("packets_sent"), completed[mote]);
    EXPECT_EQ(m.number_at("packets_received"), traced_received[mote]);
    EXPECT_EQ(m.number_at("packets_crc_failed"), traced_failed[mote]);
  }
  std::remove(trace.c_str());
  std::remove(stats.c_str());
}

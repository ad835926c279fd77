// Compiling query files: what the motes are sent (open-table indexes, the
// crossed join codes, constants, times), and a clear message with its line
// for every query a network could not run as written.

#include "queryfile/query_compile.hpp"
#include "queryfile/result_names.hpp"

#include <gtest/gtest.h>

#include <array>
#include <string>
#include <vector>

namespace query_file {
namespace {
using namespace protocol;

CompileResult compile_text(const std::string& text) {
  ParseResult parsed = parse(text, "q.query");
  EXPECT_TRUE(parsed.errors.empty()) << format(parsed.errors[0]);
  return compile(parsed.file);
}

std::vector<std::string> errors_of(const std::string& text) {
  std::vector<std::string> out;
  for (const Diagnostic& d : compile_text(text).errors) out.push_back(format(d));
  return out;
}

void expect_error(const std::string& text, const std::string& where, const std::string& says) {
  std::vector<std::string> errors = errors_of(text);
  ASSERT_EQ(errors.size(), 1u) << text << (errors.empty() ? "" : "\n" + errors[0]);
  EXPECT_TRUE(errors[0].starts_with(where)) << errors[0];
  EXPECT_NE(errors[0].find(says), std::string::npos) << errors[0];
}

std::vector<TimedMessage> messages_of(const std::string& text) {
  CompileResult r = compile_text(text);
  EXPECT_TRUE(r.errors.empty()) << format(r.errors[0]);
  return r.plan.messages;
}

TEST(QueryCompiling, OpensGetTheIndexesTheMoteWillGiveThem) {
  auto m = messages_of(R"(query 1 at 2
on mote 0
  stream light = sensor light every 0.5
  stream bright = local buffer 6
  select light -> bright where field 3 > 100
  serial bright
)");
  ASSERT_EQ(m.size(), 5u);
  EXPECT_EQ(m[0].message.msg_type, CODE_OPEN_SENSOR);
  EXPECT_EQ(m[0].message.sensor_tid, 1);
  EXPECT_EQ(m[0].message.stream_rate, 512u);
  EXPECT_EQ(m[0].message.sampling_type, PERIODIC);
  EXPECT_EQ(m[1].message.msg_type, CODE_OPEN_LOCAL);
  EXPECT_EQ(m[1].message.buffer_size, 6);
  const OperatorMsg& select = m[2].message;
  EXPECT_EQ(select.msg_type, SELECT_C);
  EXPECT_EQ(select.stream_input1, 0);
  EXPECT_EQ(select.stream_output, 1);
  EXPECT_EQ(select.stream_input2, -1);
  EXPECT_EQ(select.predicate, GREATER);
  EXPECT_EQ(select.field1, 3);
  EXPECT_EQ(select.constant, 100);
  EXPECT_EQ(select.numfields, 10);
  EXPECT_EQ(m[3].message.msg_type, SERIAL_SEND);
  EXPECT_EQ(m[3].message.stream_input1, 1);
  EXPECT_EQ(m[4].message.msg_type, CODE_START_QUERY);
  // Mote 0's own messages one tick apart from the query's time.
  for (std::size_t i = 0; i < m.size(); ++i) {
    EXPECT_EQ(m[i].time, 2 * TICKS_PER_SECOND + static_cast<int64_t>(i));
    EXPECT_EQ(m[i].message.query_id, 1);
  }
}

TEST(QueryCompiling, AQueryInstalledLaterTakesTheNextFreeEntries) {
  const std::string two = R"(query 1 at 2
on mote 0
  stream a = sensor light every 1
  stream b = local
  send a -> b
query 2 at 3
on mote 0
  stream c = sensor voice every 1
  stream d = local
  send c -> d
)";
  auto m = messages_of(two);
  ASSERT_EQ(m.size(), 8u);
  EXPECT_EQ(m[6].message.stream_input1, 2);
  EXPECT_EQ(m[6].message.stream_output, 3);
  // Once query 1 is stopped, its entries are free again.
  auto after_stop = messages_of(two + "stop 1 at 2.5\n");
  ASSERT_EQ(after_stop.size(), 9u);
  EXPECT_EQ(after_stop[4].message.msg_type, CODE_STOP_QUERY);
  EXPECT_EQ(after_stop[7].message.stream_input1, 0);
  EXPECT_EQ(after_stop[7].message.stream_output, 1);
}

TEST(QueryCompiling, JoinsInstallBothHalvesWithTheirCrossedCodes) {
  auto s = messages_of("query 1\non mote 0\nstream o = sensor light every 1\n"
                       "stream i = sensor accelx on_demand\nstream j = local\nsync_join o i -> j\n");
  ASSERT_EQ(s.size(), 6u);
  EXPECT_EQ(s[1].message.sampling_type, ON_DEMAND);
  EXPECT_EQ(s[3].message.msg_type, 3);  // installs SYNC_JOIN_O
  EXPECT_EQ(s[3].message.stream_input1, 0);
  EXPECT_EQ(s[3].message.stream_input2, 1);
  EXPECT_EQ(s[3].message.stream_output, -1);
  EXPECT_EQ(s[4].message.msg_type, 4);  // installs SYNC_JOIN_I
  EXPECT_EQ(s[4].message.stream_input1, 1);
  EXPECT_EQ(s[4].message.stream_input2, 0);
  EXPECT_EQ(s[4].message.stream_output, 2);
  auto merge = messages_of("query 1\non mote 0\nstream o = sensor light every 1\n"
                           "stream i = sensor accelx every 0.5\nstream j = local\nmerge_join o i -> j\n");
  EXPECT_EQ(merge[3].message.msg_type, 5);
  EXPECT_EQ(merge[4].message.msg_type, 6);
}

TEST(QueryCompiling, AggregatesCarryTheirConstants) {
  const std::string head =
      "query 1\non mote 0\nstream a = sensor light every 1\nstream b = sensor accelx every 1\n"
      "stream c = local\n";
  auto avg = messages_of(head + "avg a b -> c fields 3 2\n");
  ASSERT_EQ(avg.size(), 6u);
  EXPECT_EQ(avg[3].message.msg_type, AVG_1);
  EXPECT_EQ(avg[3].message.stream_input1, 0);
  EXPECT_EQ(avg[3].message.stream_input2, 1);
  EXPECT_EQ(avg[4].message.msg_type, AVG_2);
  EXPECT_EQ(avg[4].message.stream_input1, 1);
  EXPECT_EQ(avg[4].message.stream_input2, 0);
  for (int i : {3, 4}) {
    EXPECT_EQ(avg[i].message.stream_output, 2);
    EXPECT_EQ(avg[i].message.field1, 3);
    EXPECT_EQ(avg[i].message.field2, 2);
    EXPECT_EQ(avg[i].message.constant2, 4);  // mark field
    EXPECT_EQ(avg[i].message.constant3, 9);  // count byte
  }
  // The same constant means the minimum for a pair, the maximum for a window.
  EXPECT_EQ(messages_of(head + "min a b -> c fields 3 3\n")[3].message.constant, 1);
  EXPECT_EQ(messages_of(head + "max a b -> c fields 3 3\n")[3].message.constant, 0);
  auto wmax = messages_of(head + "window_max a -> c field 3 epochs 4\n")[3].message;
  EXPECT_EQ(wmax.msg_type, MAX_MIN_T);
  EXPECT_EQ(wmax.constant, 1);
  EXPECT_EQ(wmax.constant2, 4);
  EXPECT_EQ(messages_of(head + "window_min a -> c field 3 epochs 4\n")[3].message.constant, 0);
  EXPECT_EQ(messages_of(head + "sum a b -> c fields 3 3\n")[3].message.msg_type, AVG_P1);
}

TEST(QueryCompiling, MessagesForOtherMotesAreSpacedAndReadersStartFirst) {
  auto m = messages_of(R"(query 1 at 2
on mote 1
  stream l = sensor light every 1
  stream up = remote 9 to 0
  send l -> up
on mote 0
  stream down = remote 9
  serial down
)");
  ASSERT_EQ(m.size(), 7u);
  EXPECT_EQ(m[0].to, 1);
  EXPECT_EQ(m[1].time - m[0].time, 1);  // in order; the runner paces them
  EXPECT_EQ(m[1].message.remote_stream_dest, 0);  // the sending side
  EXPECT_EQ(m[3].to, 0);
  EXPECT_EQ(m[3].message.msg_type, CODE_OPEN_REMOTE);
  EXPECT_EQ(m[5].to, 0);
  EXPECT_EQ(m[5].message.msg_type, CODE_START_QUERY);
  EXPECT_EQ(m[6].to, 1);
  EXPECT_EQ(m[6].message.msg_type, CODE_START_QUERY);
}

TEST(QueryCompiling, StreamsMustBeDeclaredAndUsableAsAsked) {
  const std::string head = "query 1\non mote 0\nstream s = sensor light every 1\nstream l = local\n";
  expect_error(head + "send x -> l\n", "q.query:5:", "unknown stream 'x' on mote 0");
  expect_error(head + "send s -> s2\n", "q.query:5:", "unknown stream 's2'");
  expect_error(head + "send l -> s\nsend s -> l\n", "q.query:5:",
               "'s' is a sensor stream; operators cannot write to it");
  expect_error(head + "send s -> s\n", "q.query:5:", "sensor stream");
  expect_error("query 1\non mote 0\nstream d = sensor light on_demand\nstream l = local\n"
               "send d -> l\nserial l\n",
               "q.query:5:", "on-demand stream 'd' is sampled only when read by a join");
  expect_error(head + "avg s s -> l fields 3 3\n", "q.query:5:", "needs two different streams");
  expect_error(head + "serial l\n", "q.query:4:",
               "local stream 'l' is read but no operator on mote 0 writes to it");
}

TEST(QueryCompiling, RemoteStreamsNeedBothEnds) {
  expect_error("query 1\non mote 1\nstream s = sensor light every 1\nstream up = remote 9 to 0\n"
               "send s -> up\n",
               "q.query:4:", "remote stream 9 goes to mote 0, but no query reads it there");
  std::vector<std::string> both = errors_of(
      "query 1\non mote 0\nstream down = remote 8\nserial down\n");
  ASSERT_EQ(both.size(), 1u);
  EXPECT_EQ(both[0], "q.query:3: nothing sends remote stream 8 to mote 0 (another mote needs "
                     "'stream NAME = remote 8 to 0')");
  const std::string sender = "on mote 1\nstream s = sensor light every 1\nstream up = remote 9 to 0\n";
  expect_error("query 1\n" + sender + "stream l = local\nsend up -> l\n" +
               "on mote 0\nstream down = remote 9\nserial down\n",
               "q.query:6:", "'up' is the sending side of remote stream 9");
  expect_error("query 1\non mote 0\nstream down = remote 9\nstream v = sensor voice every 1\n"
               "send v -> down\n" + sender + "send s -> up\n",
               "q.query:5:", "'down' is the receiving side of remote stream 9");
}

TEST(QueryCompiling, ResultsLeaveOnlyThroughMote0) {
  expect_error("query 1\non mote 1\nstream s = sensor light every 1\nserial s\n", "q.query:4:",
               "'serial' sends results out of mote 0's serial port; it only runs on mote 0");
}

TEST(QueryCompiling, OnlyTheFirstReaderOfAStreamRuns) {
  const std::string head =
      "query 1\non mote 0\nstream s = sensor light every 1\nstream a = local\nstream b = local\n";
  expect_error(head + "send s -> a\nsend s -> b\n", "q.query:7:",
               "stream 's' is already read by 'send' (line 6)");
  expect_error(head + "mirror s -> a\n", "q.query:6:",
               "with no other operator reading it, it would copy the first record only");
  EXPECT_TRUE(errors_of(head + "mirror s -> a\nsend s -> b\n").empty());
  expect_error(head + "stream c = sensor voice every 1\nsum s c -> a fields 3 3\n"
               "stream d = sensor accelx every 1\nstream e = sensor temperature every 1\n"
               "sum d e -> b fields 3 3\n",
               "q.query:10:", "mote 0 already has a 'sum' (line 7)");
}

TEST(QueryCompiling, AMotesTablesHaveRoomForSoMuch) {
  // Four streams of a kind.
  expect_error("query 1\non mote 0\nstream a = local\nstream b = local\nstream c = local\n"
               "stream d = local\nstream e = local\n",
               "q.query:7:", "mote 0 has no room for another local stream: a mote holds 4 of each kind");
  // Ten opens in all.
  std::string ten = "query 1\non mote 0\n";
  for (const char* s : {"light", "temperature", "voice", "accelx"}) {
    ten += std::string("stream ") + s + " = sensor " + s + " every 1\n";
  }
  for (const char* l : {"l1", "l2", "l3", "l4"}) ten += std::string("stream ") + l + " = local\n";
  ten += "stream r1 = remote 1\nstream r2 = remote 2\n";
  ten += "on mote 1\nstream m = sensor light every 1\nstream u1 = remote 1 to 0\n"
         "stream u2 = remote 2 to 0\nsend m -> u1\n";
  std::vector<std::string> full = errors_of(ten);
  ASSERT_TRUE(full.empty()) << full[0];
  // (line 13 is the eleventh stream of mote 0)
  std::string eleven = ten;
  eleven.insert(eleven.find("on mote 1"), "stream extra = remote 3\n");
  std::vector<std::string> errors = errors_of(eleven);
  ASSERT_GE(errors.size(), 1u);
  EXPECT_EQ(errors[0], "q.query:13: mote 0 has no room for stream 'extra': a mote holds 10 "
                       "stream opens at a time");
  // Twelve operators.
  std::string ops = "query 1\non mote 0\nstream s = sensor light every 1\nstream l = local\n"
                    "send s -> l\n";
  for (int i = 0; i < 11; ++i) ops += "mirror s -> l\n";
  ASSERT_TRUE(errors_of(ops).empty());
  expect_error(ops + "mirror s -> l\n", "q.query:17:",
               "mote 0 has no room for 'mirror': a mote holds 12 operators");
  // The same sensor twice.
  expect_error("query 1\non mote 0\nstream a = sensor light every 1\nstream b = sensor light every 2\n",
               "q.query:4:", "sensor light is already streamed on mote 0 (line 3)");
}

// A collection at mote 0 over remote stream 9, written with one section for
// the senders.
std::string collection(int motes) {
  return "motes " + std::to_string(motes) +
         "\nquery 1\non mote 0\n  stream down = remote 9 buffer 8\n  serial down\n"
         "on motes 1-" + std::to_string(motes - 1) +
         "\n  stream l = sensor light every 1\n  stream up = remote 9 to 0\n  send l -> up\n";
}

TEST(QueryCompiling, RemoteStreamsFitTheChannelTablesAtBothEnds) {
  // Nineteen senders need nineteen channels at mote 0, which has four.
  std::vector<std::string> twenty = errors_of(collection(20));
  ASSERT_EQ(twenty.size(), 1u);
  EXPECT_EQ(twenty[0], "q.query:8: mote 0 can take 4 channels; 19 motes send to it: relay "
                       "through other motes (every remote stream between two motes takes a "
                       "channel at both ends; 'collect' plans the relays for a whole network)");
  EXPECT_TRUE(errors_of(collection(4)).empty());
  EXPECT_TRUE(errors_of(collection(5)).empty());
  expect_error(collection(6), "q.query:8:", "mote 0 can take 4 channels; 5 motes send to it");

  // A relay's own channels out count too: three in and two out are five.
  const std::string relay =
      "motes 5\nquery 1\non mote 4\n  stream in = remote 7\n  stream a = remote 8 to 0\n"
      "  stream b = remote 9 to 0\n  send in -> a\n"
      "on motes 1-3\n  stream l = sensor light every 1\n  stream up = remote 7 to 4\n"
      "  send l -> up\n"
      "on mote 0\n  stream x = remote 8\n  stream y = remote 9\n  serial x\n";
  expect_error(relay, "q.query:10:",
               "mote 4 can take 4 channels; 3 motes send to it and it sends 2 streams to other "
               "motes");

  // A stopped query's channels are free again for the next.
  std::string again = collection(4) + "stop 1 at 5\nquery 2 at 6\non mote 0\n"
                      "  stream down = remote 10\n  serial down\non motes 1-3\n"
                      "  stream t = sensor temperature every 1\n  stream up = remote 10 to 0\n"
                      "  send t -> up\n";
  EXPECT_TRUE(errors_of(again).empty());
  again.replace(again.find("stop 1 at 5"), 11, "stop 1 at 7");
  expect_error(again, "q.query:17:", "mote 0 can take 4 channels; 3 motes send it 6 streams");
}

TEST(QueryCompiling, AFindingInASectionIsSaidOnceForAllItsMotes) {
  CompileResult r = compile_text(
      "motes 20\nquery 1\non motes 1-9,11-19\n  stream l = sensor light every 1\n"
      "  stream idle = local\n  stream here = local\n  send lihgt -> here\n");
  ASSERT_EQ(r.errors.size(), 1u);
  EXPECT_EQ(format(r.errors[0]), "q.query:7: unknown stream 'lihgt' on motes 1-9,11-19 (declare "
                                 "it there with 'stream lihgt = ...')");
  ASSERT_GE(r.warnings.size(), 1u);
  EXPECT_EQ(format(r.warnings[0]),
            "q.query:4: stream 'l' on motes 1-9,11-19 is not used by any operator");
}

TEST(QueryCompiling, AMergeJoinReadsTheFasterStreamAsItsInner) {
  expect_error("query 1\non mote 0\nstream a = sensor light every 1\n"
               "stream b = sensor voice every 2\nstream j = local\nmerge_join a b -> j\n",
               "q.query:6:", "name the slower stream first");
  EXPECT_TRUE(errors_of("query 1\non mote 0\nstream a = sensor light every 2\n"
                        "stream b = sensor voice every 1\nstream j = local\nmerge_join a b -> j\n")
                  .empty());
}

TEST(QueryCompiling, JoinedRecordsFitTenFields) {
  std::string text =
      "query 1\non mote 0\nstream a = sensor light every 1\nstream b = sensor voice every 1\n"
      "stream c = sensor accelx every 1\nstream d = sensor accely every 1\n"
      "stream ab = local\nstream cd = local\nstream all = local\n"
      "sync_join a b -> ab\nsync_join c d -> cd\nsync_join ab cd -> all\n";
  expect_error(text, "q.query:12:", "the joined records would have 13 fields (7 + 7 - 1)");
}

TEST(QueryCompiling, MotesAndTimesLieInsideTheRun) {
  expect_error("motes 2\nquery 1\non mote 5\nstream l = local\n", "q.query:3:",
               "mote 5 is not in the network of 2 motes (0 to 1); raise 'motes' on line 1");
  expect_error("until 10\nquery 1 at 12\non mote 0\nstream l = local\n", "q.query:2:",
               "query 1 is installed at 12 s, but the run ends at 10 s");
  expect_error("query 1 at 0.5\non mote 0\nstream l = local\n", "q.query:1:",
               "while the motes are still booting; install it at 1 s or later");
  expect_error("motes 2\nadc 4 light 3\n", "q.query:2:", "mote 4 is not in the network");
  expect_error("query 1\n", "q.query:1:", "query 1 installs nothing");
  // 396 messages for other motes need at least 0.025 s each on mote 0's
  // radio: they would still be going out at the end.
  const std::string many = "motes 100\nuntil 10\nquery 1 at 2\non motes all\n"
                           "  stream l = sensor light every 1\n  stream k = local\n"
                           "  send l -> k\non mote 0\n  serial k\n";
  expect_error(many, "q.query:3:",
               "query 1 is still being installed when the run ends at 10 s: its last message "
               "goes out at 11.9 s at the earliest");
  std::string longer = many;
  longer.replace(longer.find("until 10"), 8, "until 12");
  EXPECT_TRUE(errors_of(longer).empty());
}

TEST(QueryCompiling, WarnsOfStreamsNothingUsesAndResultsNothingSends) {
  CompileResult r = compile_text(
      "query 1\non mote 0\nstream s = sensor light every 1\nstream l = local\n"
      "stream idle = local\nsend s -> l\n");
  EXPECT_TRUE(r.errors.empty());
  ASSERT_EQ(r.warnings.size(), 2u);
  EXPECT_EQ(format(r.warnings[0]), "q.query:5: stream 'idle' on mote 0 is not used by any operator");
  EXPECT_EQ(format(r.warnings[1]),
            "q.query:1: no query has a 'serial' on mote 0: no results will reach the host");
}

TEST(QueryCompiling, ResultsAreNamedByTheFieldsTheyCarry) {
  CompileResult r = compile_text(R"(query 1
on mote 1
  stream l = sensor light every 1
  stream up = remote 9 to 0
  send l -> up
on mote 0
  stream down = remote 9
  stream a = sensor accelx every 1
  stream j = local
  stream p = local
  sync_join down a -> j
  project j -> p fields 3 6
  serial p
)");
  ASSERT_TRUE(r.errors.empty()) << format(r.errors[0]);
  ASSERT_EQ(r.plan.results.size(), 1u);
  EXPECT_EQ(r.plan.results[0].layout, (Layout{"light", "accelx"}));
  EXPECT_EQ(r.plan.motes, 2);
}

// Two kinds of record on one stream to mote 0: each result is named by the
// mote it carries, and where that cannot tell them apart (both from mote 1)
// the field they disagree on gets a neutral name.
TEST(QueryCompiling, ResultsOfSeveralKindsAreToldApartByTheirMote) {
  const std::string query = R"(query 1
on mote 1
  stream l = sensor light every 1
  stream w = local
  stream up = remote 9 to 0
  window_avg l -> w field 3 epochs 1
  send w -> up
on mote SECOND
  stream t = sensor temperature every 1
  stream w = local
  stream up = remote 9 to 0
  window_max t -> w field 3 epochs 1
  send w -> up
on mote 0
  stream down = remote 9
  serial down
)";
  auto names = [](const Plan& plan, uint8_t mote) {
    std::array<uint8_t, 20> data{};
    data[1] = mote;
    return result_names(plan, {}, data, 5 * TICKS_PER_SECOND);
  };
  std::string apart = query;
  apart.replace(apart.find("SECOND"), 6, "2");
  CompileResult r = compile_text(apart);
  ASSERT_TRUE(r.errors.empty()) << format(r.errors[0]);
  EXPECT_EQ(names(r.plan, 1), (Layout{"mote", "timestamp", "epoch", "avg(light)"}));
  EXPECT_EQ(names(r.plan, 2), (Layout{"mote", "timestamp", "epoch", "max(temperature)"}));
  // Before the query starts nothing runs, and mote 0 sends neither kind:
  // the names say only what both kinds agree on.
  std::array<uint8_t, 20> early{};
  EXPECT_EQ(result_names(r.plan, {}, early, 0), (Layout{"mote", "timestamp", "epoch", "field3"}));

  CompileResult same_mote = compile_text(R"(query 1
on mote 1
  stream l = sensor light every 1
  stream t = sensor temperature every 1
  stream up = remote 9 to 0
  window_avg l -> up field 3 epochs 1
  window_max t -> up field 3 epochs 1
on mote 0
  stream down = remote 9
  serial down
)");
  ASSERT_TRUE(same_mote.errors.empty()) << format(same_mote.errors[0]);
  EXPECT_EQ(names(same_mote.plan, 1), (Layout{"mote", "timestamp", "epoch", "field3"}));
}

}  // namespace
}  // namespace query_file

// Reading query files: the statements people write, and a clear message
// with file and line for each mistake in their form.

#include "queryfile/query_file.hpp"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace query_file {
namespace {

std::vector<std::string> errors_of(const std::string& text) {
  std::vector<std::string> out;
  for (const Diagnostic& d : parse(text, "q.query").errors) out.push_back(format(d));
  return out;
}

// The one error of `text`, which must begin with `where` and contain `says`.
void expect_error(const std::string& text, const std::string& where, const std::string& says) {
  std::vector<std::string> errors = errors_of(text);
  ASSERT_EQ(errors.size(), 1u) << text;
  EXPECT_TRUE(errors[0].starts_with(where)) << errors[0];
  EXPECT_NE(errors[0].find(says), std::string::npos) << errors[0];
}

TEST(QueryFileReading, ReadsEveryKindOfStatement) {
  ParseResult r = parse(R"(# a comment line
motes 4   # trailing comment
until 20
seed 7
adc 1-2 light 800
adc all port 5 12
link 1 0 0.25
query 3 at 2.5
on mote 1
  stream l = sensor light every 0.25 buffer 6
  stream t = sensor temperature on_demand
  stream up = remote 9 to 0 reliable rate 50
  stream mid = local
  sync_join l t -> mid read 4
  send mid -> up
mote 0
  stream down = remote 9 buffer 8
  stream win = local
  window_max down -> win field 3 epochs 2
  serial win
stop 3 at 30
)",
                        "q.query");
  ASSERT_TRUE(r.errors.empty()) << format(r.errors[0]);
  const QueryFile& f = r.file;
  EXPECT_EQ(f.motes, 4);
  EXPECT_EQ(f.until, 20);
  EXPECT_EQ(f.seed, 7u);
  ASSERT_EQ(f.adc.size(), 2u);
  EXPECT_EQ(f.adc[0].motes, (std::vector<uint16_t>{1, 2}));
  EXPECT_EQ(f.adc[0].port, 1);
  EXPECT_EQ(f.adc[0].value, 800);
  EXPECT_TRUE(f.adc[1].all);
  EXPECT_EQ(f.adc[1].port, 5);
  ASSERT_EQ(f.links.size(), 1u);
  EXPECT_DOUBLE_EQ(f.links[0].probability, 0.25);
  ASSERT_EQ(f.queries.size(), 1u);
  const QueryDecl& q = f.queries[0];
  EXPECT_EQ(q.id, 3);
  EXPECT_DOUBLE_EQ(q.at, 2.5);
  EXPECT_EQ(q.stop_at, 30);
  ASSERT_EQ(q.motes.size(), 2u);
  const MotePart& m1 = q.motes[0];
  ASSERT_EQ(m1.streams.size(), 4u);
  EXPECT_EQ(m1.streams[0].rate, 256u);  // a quarter second in timer counts
  EXPECT_EQ(m1.streams[0].buffer, 6);
  EXPECT_TRUE(m1.streams[1].on_demand);
  EXPECT_EQ(m1.streams[2].kind, StreamKind::remote_out);
  EXPECT_EQ(m1.streams[2].to, 0);
  EXPECT_TRUE(m1.streams[2].reliable);
  EXPECT_EQ(m1.streams[2].rate, 50u);
  ASSERT_EQ(m1.operators.size(), 2u);
  EXPECT_EQ(m1.operators[0].kind, OpKind::sync_join);
  EXPECT_EQ(m1.operators[0].inputs, (std::vector<std::string>{"l", "t"}));
  EXPECT_EQ(m1.operators[0].read_fields, 4);
  const MotePart& m0 = q.motes[1];
  EXPECT_EQ(m0.streams[0].kind, StreamKind::remote_in);
  EXPECT_EQ(m0.operators[0].kind, OpKind::window_max);
  EXPECT_EQ(m0.operators[0].epochs, 2);
  EXPECT_TRUE(m0.operators[1].output.empty());
}

TEST(QueryFileReading, SelectionsCompareWithAConstantOrAnotherField) {
  ParseResult r = parse(
      "query 1\non mote 0\nselect a -> b where field 3 >= 100\nselect a -> b where field 3<field 4\n"
      "select a->b where field 2 != 7\n",
      "q");
  ASSERT_TRUE(r.errors.empty()) << format(r.errors[0]);
  const auto& ops = r.file.queries[0].motes[0].operators;
  EXPECT_EQ(ops[0].kind, OpKind::select_constant);
  EXPECT_EQ(ops[0].predicate, 4);
  EXPECT_EQ(ops[0].constant, 100);
  EXPECT_EQ(ops[1].kind, OpKind::select_fields);
  EXPECT_EQ(ops[1].predicate, 5);
  EXPECT_EQ(ops[1].field2, 4);
  EXPECT_EQ(ops[2].predicate, 2);
}

TEST(QueryFileReading, MistakesInWordsAndNumbersNameTheirLine) {
  expect_error("motes 2\nquery 1\non mote 0\nselct a -> b\n", "q.query:4:",
               "unknown statement 'selct'");
  expect_error("query 1\non mote 0\nstream s = sensor lite every 1\n", "q.query:3:",
               "unknown sensor 'lite'; the sensors are light,");
  expect_error("query 1\non mote 0\nselect a -> b where field 10 > 3\n", "q.query:3:",
               "the field must be from 0 to 9, not 10");
  expect_error("query 1\non mote 0\nproject a -> b fields 3 12\n", "q.query:3:",
               "the second field must be from 0 to 9, not 12");
  expect_error("query 1\non mote 0\nwindow_avg a -> b field 5 epochs 1\n", "q.query:3:",
               "windows keep fields 0 to 4");
  expect_error("query 1\non mote 0\navg a b -> c fields 3 7\n", "q.query:3:",
               "pairs keep fields 0 to 4");
  expect_error("query 1\non mote 0\nselect a -> b where field 3 > 300\n", "q.query:3:",
               "the constant must be from 0 to 255, not 300");
  expect_error("query 1\non mote 0\nselect a -> b where field 3 => 3\n", "q.query:3:",
               "the constant must be a whole number, not '>'");
  expect_error("query 1\non mote 0\nstream s = sensor light every 0\n", "q.query:3:",
               "the sampling period must be from");
  expect_error("motes 1001\n", "q.query:1:", "the number of motes must be from 1 to 1000");
  expect_error("link 0 1 1.5\n", "q.query:1:", "the bit-error probability must be from 0 to 1");
  expect_error("adc 3-1 light 5\n", "q.query:1:", "the range '3-1' runs backwards");
  expect_error("adc 1 lamp 5\n", "q.query:1:", "unknown sensor 'lamp'");
  expect_error("until 2.5\n", "q.query:1:", "the time limit in seconds must be a whole number");
}

TEST(QueryFileReading, MistakesInStructureNameTheirLine) {
  expect_error("on mote 1\n", "q.query:1:", "'on mote' outside a query");
  expect_error("query 1\nstream s = local\n", "q.query:2:", "before 'on mote M'");
  expect_error("stream s = local\n", "q.query:1:", "a stream outside a query");
  expect_error("query 1\nquery 1\n", "q.query:2:", "query 1 is already defined on line 1");
  expect_error("query 1\non mote 0\nstream s = local\nstream s = local\n", "q.query:4:",
               "stream 's' is already declared on mote 0 (line 3)");
  expect_error("query 1 at 5\nstop 1 at 4\n", "q.query:2:", "it cannot stop at 4 s");
  expect_error("stop 2 at 4\n", "q.query:1:", "no query 2 above this line to stop");
  expect_error("query 1\non mote 2\nstream s = remote 4 to 2\n", "q.query:3:",
               "leave out 'to 2'");
  expect_error("query 1\non mote 0\nsync_join a -> c\n", "q.query:3:",
               "'sync_join' reads two streams: sync_join FIRST SECOND -> OUTPUT");
  expect_error("query 1\non mote 0\nsend a c\n", "q.query:3:",
               "'send' reads one stream; expected '->' after 'a', found 'c'");
  expect_error("query 1\non mote 0\nsend a\n", "q.query:3:",
               "missing '->' before the output stream (send INPUT -> OUTPUT)");
  expect_error("query 1\non mote 0\nsend a b -> c\n", "q.query:3:",
               "'send' reads one stream; expected '->' after 'a', found 'b'");
  expect_error("query 1\non mote 0\nserial a -> b\n", "q.query:3:",
               "serial sends to the host and has no output stream");
  expect_error("query 1\non mote 0\nselect a -> b\n", "q.query:3:", "'select' needs a condition");
  expect_error("query 1\non mote 0\nwindow_avg a -> b field 3\n", "q.query:3:",
               "needs the field and the window");
  expect_error("query 1\non mote 0\nsend a -> b where field 1 = 2\n", "q.query:3:",
               "unknown option 'where' for 'send' (read N)");
  expect_error("query 1\non mote 0\nstream s = local reliable\n", "q.query:3:",
               "unknown option 'reliable' for a local stream (buffer N)");
  expect_error("query 1\non mote 0\nstream 3s = local\n", "q.query:3:",
               "the stream name must be a name");
}

TEST(QueryFileReading, EveryMistakeOfAFileIsReported) {
  std::vector<std::string> errors =
      errors_of("motes 0\nquery 1\non mote 0\nstream s = sensor lite every 1\nfrobnicate\n");
  ASSERT_EQ(errors.size(), 3u);
  EXPECT_TRUE(errors[0].starts_with("q.query:1:"));
  EXPECT_TRUE(errors[1].starts_with("q.query:4:"));
  EXPECT_TRUE(errors[2].starts_with("q.query:5:"));
}

TEST(QueryFileReading, SettingsFromTheCommandLineAreCheckedAlike) {
  QueryFile file;
  EXPECT_TRUE(parse_adc_option("1 light 800; 2 accelx 400", "--adc", file).empty());
  ASSERT_EQ(file.adc.size(), 2u);
  EXPECT_EQ(file.adc[1].port, 4);
  std::vector<Diagnostic> errors = parse_link_option("1 0 0.5; 1 0", "--link", file);
  ASSERT_EQ(errors.size(), 1u);
  EXPECT_EQ(format(errors[0]), "--link:2: missing the bit-error probability");
  EXPECT_EQ(file.links.size(), 1u);
}

}  // namespace
}  // namespace query_file

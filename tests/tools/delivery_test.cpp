// Which sensor streams feed the host's results, and when their counts can be
// known: records followed through operators and relays.

#include "queryfile/delivery.hpp"

#include <gtest/gtest.h>

namespace query_file {
namespace {

TEST(DeliverySources, FollowRecordsOverRelaysAndSayWhenCountsAreUnknowable) {
  ParseResult parsed = parse(R"(motes 5
query 1 at 2
on mote 0
  stream arriving = remote 9 buffer 8
  serial arriving
on mote 2
  stream from_1 = remote 8
  stream to_base = remote 9 to 0
  send from_1 -> to_base
  stream light = sensor light every 2
  stream bright = local
  select light -> bright where field 3 > 100
  send bright -> to_base
on mote 1
  stream light = sensor light every 0.5
  stream to_2 = remote 8 to 2
  send light -> to_2
on mote 3
  stream light = sensor light every 1
  stream kept = local
  send light -> kept
)",
                             "d.query");
  ASSERT_TRUE(parsed.errors.empty()) << parsed.errors.front().text;
  CompileResult compiled = compile(parsed.file);
  ASSERT_TRUE(compiled.errors.empty()) << compiled.errors.front().text;
  std::vector<Source> sources = delivery_sources(parsed.file, compiled.plan);

  // Mote 3 keeps its readings; mote 1's cross two hops one for one; mote
  // 2's pass a selection.
  ASSERT_EQ(sources.size(), 2u);
  const Source& relayed = sources[0].mote == 1 ? sources[0] : sources[1];
  const Source& selected = sources[0].mote == 1 ? sources[1] : sources[0];
  EXPECT_EQ(relayed.mote, 1);
  EXPECT_TRUE(relayed.countable);
  EXPECT_DOUBLE_EQ(relayed.period, 0.5);
  ASSERT_GE(relayed.start_message, 0);
  EXPECT_EQ(compiled.plan.messages[relayed.start_message].to, 1);
  EXPECT_EQ(relayed.stop_message, -1);
  EXPECT_EQ(selected.mote, 2);
  EXPECT_FALSE(selected.countable);

  // One record per whole period between start and end.
  EXPECT_EQ(expected_records(relayed, 0, 10 * TICKS_PER_SECOND + 1), 20);
  EXPECT_EQ(expected_records(relayed, TICKS_PER_SECOND, TICKS_PER_SECOND), 0);
}

// A query stopped before the next one starts on the same remote stream
// number: each source reaches only its own query's reading end, so both
// counts are known.
TEST(DeliverySources, QueriesThatNeverRunTogetherDoNotShareAStream) {
  ParseResult parsed = parse(R"(motes 2
query 1 at 2
on mote 0
  stream in = remote 9
  serial in
on mote 1
  stream light = sensor light every 1
  stream out = remote 9 to 0
  send light -> out
stop 1 at 6
query 2 at 8
on mote 0
  stream in = remote 9
  serial in
on mote 1
  stream temp = sensor temperature every 1
  stream out = remote 9 to 0
  send temp -> out
)",
                             "d.query");
  ASSERT_TRUE(parsed.errors.empty());
  CompileResult compiled = compile(parsed.file);
  ASSERT_TRUE(compiled.errors.empty()) << compiled.errors.front().text;
  std::vector<Source> sources = delivery_sources(parsed.file, compiled.plan);
  ASSERT_EQ(sources.size(), 2u);
  EXPECT_TRUE(sources[0].countable);
  EXPECT_TRUE(sources[1].countable);
}

}  // namespace
}  // namespace query_file

// Synchronous and merge joins on local streams of one mote: the outer stream
// is open entry 0, the inner one entry 1, the joined records go to entry 2.

#include "query_fixture.hpp"

namespace query_test {
namespace {
using Records = std::vector<std::vector<int8_t>>;

class Join : public QueryTest {
 protected:
  // `outer_code` and `inner_code` are message codes: 3 and 4 (synchronous)
  // or 5 and 6 (merge).
  void install(uint8_t outer_code, uint8_t inner_code, uint8_t outer_fields = 3,
               uint8_t inner_fields = 3) {
    boot({3});
    OperatorMsg outer = op(7, outer_code, 0, -1, outer_fields);
    outer.stream_input2 = 1;
    OperatorMsg inner = op(7, inner_code, 1, 2, inner_fields);
    inner.stream_input2 = 0;
    decode_all(3, {local_open(7), local_open(7), local_open(7, 8), outer, inner,
                   message(7, CODE_START_QUERY)});
  }
  void outer(const std::vector<int8_t>& r) { write_local(3, 0, r); }
  void inner(const std::vector<int8_t>& r) { write_local(3, 1, r); }
  Records output() { return stored(3, 2); }
  int outer_reads() { return reads_counted(3, open_of(3, 0).stream_desc); }
  int inner_reads() { return reads_counted(3, open_of(3, 1).stream_desc); }
};

TEST_F(Join, SynchronousJoinWritesOuterFieldsThenInnerFieldsWithoutItsTimestamp) {
  install(3, 4);
  EXPECT_EQ(op_of(3, 0).operator_, SYNC_JOIN_O);
  EXPECT_EQ(inner_reads(), 0);  // the inner side is read only for an outer record
  inner(fields({5, 12, 9}));
  outer(fields({4, 10, 7}));
  EXPECT_EQ(output(), Records{fields({4, 10, 7, 5, 9})});
  EXPECT_EQ(outer_reads(), 1);
  EXPECT_EQ(inner_reads(), 0);
}

TEST_F(Join, TimestampsJoinWhenAtMostThreeApart) {
  install(3, 4);
  outer(fields({4, 10, 1}));
  inner(fields({5, 13, 2}));  // joins
  outer(fields({4, 10, 3}));
  inner(fields({5, 14, 4}));  // four apart: dropped
  outer(fields({4, 14, 5}));
  inner(fields({5, 10, 6}));  // four apart the other way
  EXPECT_EQ(output(), Records{fields({4, 10, 1, 5, 2})});
  EXPECT_EQ(outer_reads(), 1);  // still running
}

TEST_F(Join, ALateInnerRecordJoinsWithTheCurrentOuterRecord) {
  install(3, 4);
  outer(fields({4, 10, 1}));
  outer(fields({4, 20, 2}));  // two inner reads wait now
  EXPECT_EQ(inner_reads(), 2);
  inner(fields({5, 19, 3}));
  EXPECT_EQ(output(), Records{fields({4, 20, 2, 5, 3})});
}

TEST_F(Join, MergeJoinReadsAgainTheStreamThatLags) {
  install(5, 6);
  EXPECT_EQ(op_of(3, 0).operator_, MERGE_JOIN_O);
  outer(fields({4, 10, 1}));
  EXPECT_EQ(inner_reads(), 1);
  EXPECT_EQ(outer_reads(), 0);  // the outer side does not read itself again
  inner(fields({5, 20, 2}));    // outer lags: outer is read, the inner record is let go
  EXPECT_EQ(outer_reads(), 1);
  EXPECT_EQ(inner_reads(), 0);
  outer(fields({4, 19, 3}));
  inner(fields({5, 21, 4}));
  EXPECT_EQ(output(), Records{fields({4, 19, 3, 5, 4})});
  EXPECT_EQ(outer_reads(), 1);

  outer(fields({4, 40, 5}));
  inner(fields({5, 30, 6}));  // inner lags: inner is read again
  EXPECT_EQ(inner_reads(), 1);
  EXPECT_EQ(outer_reads(), 0);
  inner(fields({5, 38, 7}));
  EXPECT_EQ(output().back(), fields({4, 40, 5, 5, 7}));
}

TEST_F(Join, AMergeJoinCatchesUpThroughStoredInnerRecords) {
  install(5, 6);
  for (uint16_t ts : {1, 2, 3, 30}) inner(fields({5, ts, ts}));
  outer(fields({4, 29, 1}));  // skips 1, 2 and 3, joins 30
  EXPECT_EQ(output(), Records{fields({4, 29, 1, 5, 30})});
}

TEST_F(Join, JoinedRecordsLongerThanTenFieldsKeepTheFirstTen) {
  install(3, 4, 8, 5);
  inner(fields({5, 10, 21, 22, 23}));
  outer(fields({4, 10, 11, 12, 13, 14, 15, 16}));
  EXPECT_EQ(output(), Records{fields({4, 10, 11, 12, 13, 14, 15, 16, 5, 21})});
}

TEST_F(Join, RecordsWithoutInnerFieldsJoinToTheOuterRecord) {
  install(3, 4, 3, 1);  // the inner side reads only its address
  inner(fields({5, 10, 9}));
  outer(fields({4, 0, 7}));  // the inner timestamp reads as 0
  EXPECT_EQ(output(), Records{fields({4, 0, 7, 5})});
}
}  // namespace
}  // namespace query_test

// The dispatch of read completions to the operators of a stream, the count
// of outstanding reads, and the completion of remote opens.

#include "query_fixture.hpp"

namespace query_test {
namespace {
constexpr uint16_t kMote = 2;

// Mote 2 with local streams: open entries 0 (input), 1 and 2 (outputs).
class Dispatch : public QueryTest {
 protected:
  void SetUp() override {
    QueryTest::SetUp();
    boot({kMote});
    decode_all(kMote, {local_open(7), local_open(7), local_open(7)});
  }
  static void start() { decode(kMote, message(7, CODE_START_QUERY)); }
  static stream_type input() { return open_of(kMote, 0).stream_desc; }
  static int8_t write_input(std::vector<int8_t> record) {
    return write_local(kMote, input().no, std::move(record));
  }
};

TEST_F(Dispatch, OnlyTheFirstOperatorOnAStreamRunsButAllRecordsAreRefreshed) {
  decode_all(kMote, {selection(7, 0, 1, GREATER, 1, 0, 3), selection(7, 0, 2, GREATER, 1, 0, 3)});
  start();
  std::string out = output_of(DBG_USR1, [] { write_input(fields({1, 2, 3})); });
  EXPECT_EQ(stored(kMote, 1).size(), 1u);
  EXPECT_TRUE(stored(kMote, 2).empty());
  EXPECT_NE(out.find("flag a uno.\n"), std::string::npos);
  for (int i : {0, 1}) {
    EXPECT_EQ(op_of(kMote, i).record.numfields, 3);
    EXPECT_EQ(field_value(op_of(kMote, i).record, 2), 3);
  }
  // Each had a read from the start; the one that ran asked for the next record.
  EXPECT_EQ(reads_counted(kMote, input()), 2);
}

TEST_F(Dispatch, MirrorRunsOnEveryCompletionButOnlyTheSelectionKeepsReading) {
  decode_all(kMote, {op(7, MIRROR, 0, 1), selection(7, 0, 2, GREATER, 0, 5)});
  start();
  for (uint16_t v : {1, 9, 2, 8}) write_input(fields({v}));
  EXPECT_EQ(stored(kMote, 1).size(), 4u);
  EXPECT_EQ(stored(kMote, 2), (std::vector<std::vector<int8_t>>{fields({9}), fields({8})}));
  EXPECT_EQ(reads_counted(kMote, input()), 2);  // the two reads of the start, kept up
}

TEST_F(Dispatch, AMirrorAloneWritesTheFirstRecordOnly) {
  decode(kMote, op(7, MIRROR, 0, 1));
  start();
  for (uint16_t v : {1, 2}) write_input(fields({v}));
  EXPECT_EQ(stored(kMote, 1), (std::vector<std::vector<int8_t>>{fields({1})}));
  EXPECT_EQ(reads_counted(kMote, input()), 0);
}

TEST_F(Dispatch, SerialSendOffTheBaseStationConsumesTheCompletion) {
  decode_all(kMote, {op(7, SERIAL_SEND, 0, -1), selection(7, 0, 1, GREATER, 0, 0)});
  start();
  std::string out = output_of(DBG_USR1, [] { write_input(fields({5})); });
  EXPECT_NE(out.find("SERIAL_SEND...readDone.\n"), std::string::npos);
  EXPECT_NE(out.find("flag a uno.\n"), std::string::npos);
  EXPECT_TRUE(stored(kMote, 1).empty());
  EXPECT_EQ(reads_counted(kMote, input()), 1);  // the selection's read of the start
  run_loop(100000);
  EXPECT_TRUE(to_host.empty());
}

TEST_F(Dispatch, RefreshedRecordsTakeAtMostTwentyBytesRoundedUpToFields) {
  decode(kMote, op(7, SEND, 0, 1, 10));
  start();
  write_input({1, 2, 3, 4, 5, 6, 7});
  const record_type& r = op_of(kMote, 0).record;
  EXPECT_EQ(r.numfields, 4);
  EXPECT_EQ(std::vector<int8_t>(r.data.buffer, r.data.buffer + 8),
            (std::vector<int8_t>{1, 2, 3, 4, 5, 6, 7, 0}));
  // 8 bytes were written on: the fields the record was cut to.
  EXPECT_EQ(stored(kMote, 1).back().size(), 8u);

  std::vector<int8_t> long_record(30, 9);
  as_mote(kMote);
  ASSERT_EQ(reads_counted(kMote, input()), 1);
  EXPECT_EQ(SSToApp_readDone(input(), long_record.data(), 30, SUCCESS), SUCCESS);
  EXPECT_EQ(op_of(kMote, 0).record.numfields, 10);
  EXPECT_EQ(stored(kMote, 1).back(), std::vector<int8_t>(20, 9));
}

TEST_F(Dispatch, AStreamKeepsItsRequestEntryUntilItsLastOutstandingReadCompletes) {
  decode(kMote, op(7, MIRROR, 0, 1));
  for (int i = 0; i < 3; ++i) start();
  EXPECT_EQ(reads_counted(kMote, input()), 3);
  for (int expected : {2, 1, 0}) {
    write_input(fields({1}));
    EXPECT_EQ(reads_counted(kMote, input()), expected);
  }
  EXPECT_EQ(vars_of(kMote).read_requested[0].stream_desc.no, -1);
}

TEST_F(Dispatch, CompletionsThatCannotBeAcceptedChangeNothing) {
  decode(kMote, op(7, SEND, 0, 1));
  std::vector<int8_t> record = fields({1, 2});
  as_mote(kMote);
  start();
  EXPECT_EQ(SSToApp_readDone(input(), record.data(), 4, FAIL), FAIL);
  EXPECT_EQ(reads_counted(kMote, input()), 1);
  EXPECT_EQ(op_of(kMote, 0).record.numfields, 4);  // as installed
  stream_type other = open_of(kMote, 2).stream_desc;
  std::string out = output_of(DBG_USR1, [&] {
    EXPECT_EQ(SSToApp_readDone(other, record.data(), 4, SUCCESS), FAIL);
  });
  EXPECT_EQ(out, "2: Sono nella ReadDone dopo SUCCESS.\n"
                 "2: nessuna richiesta di lettura fatta per lo stream stream_desc.\n");
}

TEST_F(Dispatch, AMissingJoinPartnerEndsTheCompletionWithFail) {
  decode(kMote, op(7, 3, 0, -1));  // SYNC_JOIN_O without its inner operator
  start();
  as_mote(kMote);
  std::vector<int8_t> record = fields({1, 2});
  EXPECT_EQ(SSToApp_readDone(input(), record.data(), 4, SUCCESS), FAIL);
  EXPECT_EQ(reads_counted(kMote, input()), 1);  // not lowered
}

TEST_F(Dispatch, RecordsAlreadyStoredRunTheOperatorNestedInsideTheFirstRead) {
  start();  // opens the streams
  for (uint16_t v : {1, 2, 3}) write_input(fields({v}));
  decode(kMote, selection(7, 0, 1, GREATER, 0, 1, 1));
  start();
  EXPECT_EQ(stored(kMote, 1), (std::vector<std::vector<int8_t>>{fields({2}), fields({3})}));
  EXPECT_EQ(reads_counted(kMote, input()), 1);  // one read left waiting
  EXPECT_EQ(SSToAppM::vars_of(kMote).local_table[input().no].num_reads, 1);
}

using NestedReads = QueryTest;

TEST_F(NestedReads, AFullRingIsDrainedThroughNestedReadsAndASelfFeedingOperatorIsCutOff) {
  boot({kMote});
  // A selection into a second stream: all 255 records of a full ring pass,
  // each nested inside the read before it.
  decode_all(kMote, {local_open(8, 255), local_open(8, 255), message(8, CODE_START_QUERY)});
  const int8_t full = open_of(kMote, 0).stream_desc.no;
  const int8_t drained = open_of(kMote, 1).stream_desc.no;
  for (uint16_t v = 0; v < 255; ++v) write_local(kMote, full, fields({v}));
  decode(kMote, selection(8, 0, 1, GREATER_OR_EQUAL, 0, 0, 1));
  std::string lines = output_of(DBG_ERROR, [] { decode(kMote, message(8, CODE_START_QUERY)); });
  EXPECT_EQ(lines, "");
  EXPECT_EQ(stored(kMote, drained).size(), 255u);

  // A selection whose output is its own input would pass its record to
  // itself without end: its read is refused deep down, and the mote goes on.
  decode_all(kMote, {local_open(9), message(9, CODE_START_QUERY)});
  const stream_type looped = open_of(kMote, 2).stream_desc;
  decode_all(kMote, {selection(9, 2, 2, GREATER_OR_EQUAL, 0, 0, 1), message(9, CODE_START_QUERY)});
  lines = output_of(DBG_ERROR, [&] { write_local(kMote, looped.no, fields({5})); });
  EXPECT_EQ(lines, "2: PellundM: completions nested 512 deep; the next read of stream " +
                       std::to_string(looped.no) +
                       " (table 2) is refused: does an operator read its own output?\n");
  EXPECT_EQ(reads_counted(kMote, looped), 0);
  EXPECT_EQ(stored(kMote, looped.no).size(), 4u);  // the ring keeps the last four copies
  write_local(kMote, looped.no, fields({6}));  // nobody reads it any more: no copies
  EXPECT_EQ(stored(kMote, looped.no).back(), fields({6}));
}

TEST_F(Dispatch, IndexesOutsideTheOpenTableNameNoStream) {
  // Input -1 and 12, output 10, second input -1: none of them is a stream.
  decode_all(kMote, {op(7, SEND, -1, 1), op(7, SEND, 12, 1), op(7, SEND, 0, 10),
                     op(7, 3, 1, -1)});
  start();
  write_input(fields({4}));
  for (int no : {1, 2}) EXPECT_TRUE(stored(kMote, no).empty());
  EXPECT_EQ(reads_counted(kMote, input()), 0);  // the SEND without output stopped
  // The outer join finds no partner through stream -1.
  as_mote(kMote);
  stream_type second = open_of(kMote, 1).stream_desc;
  store_read_request(second);
  std::vector<int8_t> record = fields({1});
  EXPECT_EQ(SSToApp_readDone(second, record.data(), 2, SUCCESS), FAIL);
}

TEST_F(Dispatch, RemoteOpenCompletionsIssueTheFirstReadOnTheReadingSideOnly) {
  as_mote(kMote);
  EXPECT_EQ(SSToApp_openRemoteDone({DRSDT_ID, 0}, 9, SUCCESS), SUCCESS);  // never asked for
  EXPECT_EQ(open_of(kMote, 3).validity, 0);

  // Entry 3 reads name 9 here; entry 4 writes name 6 towards mote 4.
  decode_all(kMote, {remote_open(8, 9, kMote), remote_open(8, 6, 4), op(8, SEND, 3, 4, 2)});
  decode(kMote, message(8, CODE_START_QUERY));
  EXPECT_EQ(reads_counted(kMote, {DRSDT_ID, 3}), 0);  // waits for the open to complete
  as_mote(kMote);
  EXPECT_EQ(SSToApp_openRemoteDone({SRSDT_ID, 3}, 6, SUCCESS), SUCCESS);
  EXPECT_EQ(SSToApp_openRemoteDone({DRSDT_ID, 3}, 9, SUCCESS), SUCCESS);
  EXPECT_TRUE(same_stream(open_of(kMote, 4).stream_desc, {SRSDT_ID, 3}));
  EXPECT_TRUE(same_stream(open_of(kMote, 3).stream_desc, {DRSDT_ID, 3}));
  EXPECT_EQ(reads_counted(kMote, {DRSDT_ID, 3}), 1);
  EXPECT_EQ(SSToAppM::vars_of(kMote).dest_remote_table[3].num_reads, 1);
  EXPECT_EQ(SSToAppM::vars_of(kMote).dest_remote_table[3].read_requested[0].nbytes, 4);
  for (const app_open_request& r : vars_of(kMote).open_requested) EXPECT_EQ(r.symbolic_name, 0);
}
}  // namespace
}  // namespace query_test

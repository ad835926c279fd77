#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "kernel/per_mote.hpp"
#include "streams/ss_to_app.hpp"
#include "support/world_test.hpp"

namespace {
struct Delivery {
  stream_type desc;
  std::vector<int8_t> bytes;
};
std::vector<Delivery> delivered;
// Set by a test whose reader reads again from inside its handler.
bool read_again_inside = false;

result_t record_delivery(stream_type desc, int8_t* buf, uint8_t nbytes, result_t success) {
  EXPECT_EQ(success, SUCCESS);
  delivered.push_back({desc, std::vector<int8_t>(buf, buf + nbytes)});
  if (read_again_inside) {
    read_again_inside = false;
    SSToAppM::SSToApp_read(desc, 20);
  }
  return SUCCESS;
}

class LocalStream : public WorldTest {
 protected:
  void SetUp() override {
    WorldTest::SetUp();
    delivered.clear();
    read_again_inside = false;
    vex_state.num_nodes = 1;
    vex_state.current_node = 0;
    VEX_LOCAL_ADDRESS = 0;
    __quil_brelo_initialise(0);
    SSToAppM::set_application({record_delivery, nullptr});
  }
  void TearDown() override {
    SSToAppM::set_application({});
    WorldTest::TearDown();
  }
  int8_t write(stream_type s, std::vector<int8_t> bytes) {
    return SSToAppM::SSToApp_write(s, bytes.data(), static_cast<uint8_t>(bytes.size()));
  }
  std::vector<int8_t> last_delivered() { return delivered.back().bytes; }
};
}  // namespace

TEST_F(LocalStream, OpensTheLowestFreeEntryUpToFour) {
  for (int8_t i = 0; i < 4; ++i) {
    stream_type s = SSToAppM::SSToApp_open_l(2);
    EXPECT_EQ(s.table_id, LSDT_ID);
    EXPECT_EQ(s.no, i);
  }
  EXPECT_EQ(SSToAppM::SSToApp_open_l(2).no, INVALID_DESCRIPTOR);
  EXPECT_EQ(SSToAppM::SSToApp_close({LSDT_ID, 1}), SUCCESS);
  EXPECT_EQ(SSToAppM::SSToApp_open_l(2).no, 1);
}

TEST_F(LocalStream, AFullRingKeepsTheLastRecords) {
  stream_type s = SSToAppM::SSToApp_open_l(3);
  for (int8_t r = 1; r <= 4; ++r) EXPECT_EQ(write(s, {r, r}), 2);
  for (int8_t expected = 2; expected <= 4; ++expected) {
    EXPECT_EQ(SSToAppM::SSToApp_read(s, 10), SUCCESS);
    EXPECT_EQ(last_delivered(), (std::vector<int8_t>{expected, expected}));
  }
  EXPECT_EQ(SSToAppM::vars().local_table[0].data_counter, 3);  // reading removes nothing
  EXPECT_EQ(SSToAppM::SSToApp_read(s, 10), SUCCESS);           // queued
  EXPECT_EQ(delivered.size(), 3u);
  EXPECT_EQ(SSToAppM::vars().local_table[0].num_reads, 1);
}

TEST_F(LocalStream, AReaderThatCaughtUpGetsExactlyTheNewRecord) {
  stream_type s = SSToAppM::SSToApp_open_l(2);
  write(s, {1});
  SSToAppM::SSToApp_read(s, 5);
  write(s, {2});
  SSToAppM::SSToApp_read(s, 5);
  EXPECT_EQ(last_delivered(), std::vector<int8_t>{2});
  EXPECT_EQ(SSToAppM::SSToApp_read(s, 5), SUCCESS);
  EXPECT_EQ(delivered.size(), 2u);
  write(s, {3});  // serves the queued read at once
  EXPECT_EQ(last_delivered(), std::vector<int8_t>{3});
}

TEST_F(LocalStream, FourReadsWaitAndAreServedInOrder) {
  stream_type s = SSToAppM::SSToApp_open_l(4);
  for (uint8_t asked : {1, 2, 3, 4}) EXPECT_EQ(SSToAppM::SSToApp_read(s, asked), SUCCESS);
  EXPECT_EQ(SSToAppM::SSToApp_read(s, 9), FAIL);
  for (int i = 0; i < 4; ++i) write(s, {10, 11, 12});
  ASSERT_EQ(delivered.size(), 4u);
  EXPECT_EQ(delivered[0].bytes.size(), 1u);
  EXPECT_EQ(delivered[1].bytes.size(), 2u);
  EXPECT_EQ(delivered[2].bytes.size(), 3u);
  EXPECT_EQ(delivered[3].bytes.size(), 3u);  // never more than was stored
}

TEST_F(LocalStream, ACapacityOfZeroOnlyFeedsReadsAlreadyWaiting) {
  stream_type s = SSToAppM::SSToApp_open_l(0);
  write(s, {1});
  EXPECT_EQ(SSToAppM::SSToApp_read(s, 5), SUCCESS);
  EXPECT_TRUE(delivered.empty());
  write(s, {2});
  ASSERT_EQ(delivered.size(), 1u);
  EXPECT_EQ(last_delivered(), std::vector<int8_t>{2});
}

TEST_F(LocalStream, ClosedStreamsRefuseAndTheirEntryIsReused) {
  stream_type s = SSToAppM::SSToApp_open_l(2);
  write(s, {1});
  EXPECT_EQ(SSToAppM::SSToApp_close(s), SUCCESS);
  EXPECT_EQ(SSToAppM::SSToApp_close(s), FAIL);
  EXPECT_EQ(write(s, {1}), STREAM_NOT_OPEN);
  EXPECT_EQ(SSToAppM::SSToApp_read(s, 1), FAIL);
  EXPECT_TRUE(SSToAppM::vars().local_table[0].buffer.empty());
  stream_type again = SSToAppM::SSToApp_open_l(1);
  EXPECT_EQ(again.no, s.no);
  EXPECT_EQ(SSToAppM::SSToApp_read(again, 1), SUCCESS);  // empty: queued, not the old record
  EXPECT_TRUE(delivered.empty());
}

TEST_F(LocalStream, EntryNumbersOutsideTheTableAreRefused) {
  SSToAppM::SSToApp_open_l(2);
  for (int8_t no : {int8_t{-1}, int8_t{4}, int8_t{100}}) {
    EXPECT_EQ(SSToAppM::SSToApp_read({LSDT_ID, no}, 1), FAIL) << int{no};
    EXPECT_EQ(write({LSDT_ID, no}, {1}), INVALID_DESCRIPTOR) << int{no};
    EXPECT_EQ(SSToAppM::SSToApp_close({LSDT_ID, no}), FAIL) << int{no};
  }
  EXPECT_EQ(write({SRSDT_ID, -1}, {1}), INVALID_DESCRIPTOR);
  EXPECT_EQ(SSToAppM::SSToApp_close({SSDT_ID, 7}), FAIL);
}

TEST_F(LocalStream, OnlyTheStreamSystemFillsSensorAndIncomingStreams) {
  EXPECT_EQ(write({SSDT_ID, 0}, {1}), ILLEGAL_OPERATION);
  EXPECT_EQ(write({DRSDT_ID, 0}, {1}), ILLEGAL_OPERATION);
  EXPECT_EQ(SSToAppM::SSToApp_read({SRSDT_ID, 0}, 1), FAIL);
  EXPECT_EQ(SSToAppM::SSToApp_read({9, 0}, 1), SUCCESS);  // unknown tables: nothing happens
  EXPECT_EQ(write({9, 0}, {1}), 1);
}

TEST_F(LocalStream, RecordsLongerThan127BytesAreRefused) {
  stream_type s = SSToAppM::SSToApp_open_l(2);
  std::vector<int8_t> big(128, 7);
  EXPECT_EQ(write(s, big), ILLEGAL_OPERATION);
  big.resize(127);
  EXPECT_EQ(write(s, big), 127);
  EXPECT_EQ(SSToAppM::vars().local_table[0].data_counter, 1);
}

TEST_F(LocalStream, AReaderMayReadAgainFromItsHandler) {
  stream_type s = SSToAppM::SSToApp_open_l(3);
  write(s, {1});
  write(s, {2});
  read_again_inside = true;
  SSToAppM::SSToApp_read(s, 1);
  ASSERT_EQ(delivered.size(), 2u);
  EXPECT_EQ(delivered[0].bytes, std::vector<int8_t>{1});
  EXPECT_EQ(delivered[1].bytes, std::vector<int8_t>{2});
}

TEST_F(LocalStream, DeliveriesPrintTheTableLinesAndBytes) {
  dbg_set(DBG_AM);
  stream_type s = SSToAppM::SSToApp_open_l(2);
  write(s, {5, -3});
  testing::internal::CaptureStdout();
  SSToAppM::SSToApp_read(s, 2);
  SSToAppM::SSToApp_read(s, 2);
  write(s, {9});
  EXPECT_EQ(testing::internal::GetCapturedStdout(),
            "0: stream locale --- richiesta di READ\n"
            "0: stream locale --- dato disponibile -> segnalo readDone\n"
            "0: nodo 0\n"
            "0: entry = 0 \n"
            "0: buffer[0][0] = 5 \n"
            "0: buffer[0][1] = -3 \n"
            "0: stream locale --- richiesta di READ\n"
            "0: stream locale --- buffer vuoto o nessun nuovo dato, READ memorizzata\n"
            "0: local stream --- richieste di READ pendenti -> segnalo readDone\n"
            "0: nodo 0\n"
            "0: entry = 0 \n"
            "0: buffer[1][0] = 9 \n");
}

TEST_F(LocalStream, StampAndEpochCountersAdvanceWithTheirTimers) {
  SSToAppM::StdControl_init();
  EXPECT_EQ(SSToAppM::vars().timestamp, 1);
  EXPECT_EQ(SSToAppM::vars().epotime, 0);
  dbg_set(DBG_USR1);
  testing::internal::CaptureStdout();
  SSToAppM::TimerStamp_fired();
  SSToAppM::TimerEpoch_fired();
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "0: campo time 2 \n");
  EXPECT_EQ(SSToAppM::vars().epotime, 1);
}

// Selection, projection and the output operators, each installed on local
// streams and fed records by writing to its input.

#include "query_fixture.hpp"

namespace query_test {
namespace {
using Records = std::vector<std::vector<int8_t>>;

// Open entries 0 (input) and 1 (output) on `mote`, local streams 0 and 1.
class Operators : public QueryTest {
 protected:
  void install(uint16_t mote, const OperatorMsg& m, uint8_t input_capacity = 4) {
    mote_ = mote;
    boot({mote});
    decode_all(mote, {local_open(7, input_capacity), local_open(7), m});
  }
  void start() { decode(mote_, message(7, CODE_START_QUERY)); }
  void feed(std::initializer_list<std::vector<int8_t>> records) {
    for (const auto& r : records) write_local(mote_, 0, r);
  }
  Records output() { return stored(mote_, 1); }
  bool still_reading() { return reads_counted(mote_, open_of(mote_, 0).stream_desc) > 0; }

  uint16_t mote_ = 3;
};

TEST_F(Operators, SelectionComparesAHighByteFirstFieldWithAnEightBitConstant) {
  install(3, selection(7, 0, 1, GREATER, 1, 200, 3));
  start();
  // 200 fails: field bytes 0x00 0xC8 are 200, not 51200; 0xC8 0x00 is 51200.
  feed({fields({1, 300, 5}), fields({1, 200, 6}), fields({1, 0xC800, 7})});
  EXPECT_EQ(output(), (Records{fields({1, 300, 5}), fields({1, 0xC800, 7})}));  // 6 bytes each
  EXPECT_TRUE(still_reading());
}

TEST_F(Operators, SelectionPredicatesAndTheirLines) {
  const std::vector<std::pair<uint8_t, const char*>> passing = {
      {EQUAL, "FILTRO = SUPERATO\n"},      {NOT_EQUAL, nullptr},
      {GREATER, nullptr},                  {GREATER_OR_EQUAL, "FILTRO >= SUPERATO\n"},
      {LESS, nullptr},                     {LESS_OR_EQUAL, "FILTRO <= SUPERATO\n"},
      {0, nullptr},                        {7, nullptr}};
  boot({3});
  for (const auto& [predicate, line] : passing) {
    as_mote(3);
    record_type r{};
    r.numfields = 1;
    r.data.buffer[1] = static_cast<int8_t>(200);
    std::string out = output_of(DBG_AM | DBG_USR1, [&, predicate = predicate] {
      PellundM::select_c({LSDT_ID, -1}, {LSDT_ID, -1}, r, predicate_type{predicate}, 0, 200);
    });
    EXPECT_EQ(out.find("FILTRO") != std::string::npos, line != nullptr) << int(predicate);
    if (line != nullptr) {
      EXPECT_NE(out.find(line), std::string::npos);
    }
  }
}

TEST_F(Operators, SelectionBetweenTwoFields) {
  OperatorMsg m = op(7, SELECT_F, 0, 1, 2);
  m.predicate = LESS;
  m.field1 = 0;
  m.field2 = 1;
  install(3, m);
  start();
  feed({fields({3, 300}), fields({300, 3}), fields({4, 4})});
  EXPECT_EQ(output(), Records{fields({3, 300})});
  EXPECT_TRUE(still_reading());
}

TEST_F(Operators, ProjectionWritesTheChosenFieldsInTheOrderGiven) {
  OperatorMsg m = op(7, PROJECTION, 0, 1, 4);
  m.field1 = 3;
  m.field2 = 0;
  install(3, m);
  start();
  feed({fields({1, 2, 3, 4})});
  EXPECT_EQ(output(), Records{fields({4, 1})});
  EXPECT_TRUE(still_reading());
}

TEST_F(Operators, ProjectionOfOneFieldAndOfNone) {
  OperatorMsg one = op(7, PROJECTION, 0, 1, 4);
  one.field2 = 2;
  install(3, one);
  start();
  feed({fields({1, 2, 3, 4})});
  EXPECT_EQ(output(), Records{fields({3})});
  EXPECT_TRUE(still_reading());

  OperatorMsg none = op(8, PROJECTION, 2, 1, 4);
  decode_all(3, {local_open(8), none, message(8, CODE_START_QUERY)});
  write_local(3, 2, fields({1}));
  EXPECT_EQ(output().size(), 1u);
  EXPECT_EQ(reads_counted(3, open_of(3, 2).stream_desc), 0);  // stopped reading
}

TEST_F(Operators, SendCopiesEveryRecordAndKeepsReading) {
  install(3, op(7, SEND, 0, 1, 3));
  start();
  feed({fields({1, 2, 3}), fields({4, 5, 6})});
  EXPECT_EQ(output(), (Records{fields({1, 2, 3}), fields({4, 5, 6})}));
  EXPECT_TRUE(still_reading());
}

TEST_F(Operators, SerialSendGivesTheHostOneTwentyBytePacketPerRecord) {
  install(0, op(7, SERIAL_SEND, 0, -1, 3));
  start();
  feed({fields({1, 2, 3})});
  run_loop(10000);
  ASSERT_EQ(to_host.size(), 1u);
  const VEX_Msg& m = to_host[0].msg;
  EXPECT_EQ(to_host[0].mote, 0);
  EXPECT_EQ(m.addr, VEX_UART_ADDR);
  EXPECT_EQ(m.type, AM_MSGUART);
  EXPECT_EQ(m.length, 20);
  std::vector<int8_t> expected = fields({1, 2, 3});
  expected.resize(20, 0);
  EXPECT_EQ(std::vector<int8_t>(m.data, m.data + 20), expected);
  EXPECT_EQ(vars_of(0).send_pending, 0);
  EXPECT_TRUE(still_reading());
}

TEST_F(Operators, SerialResultsOfOneInstantAllReachTheHostInOrder) {
  boot({0});
  decode_all(0, {local_open(7), message(7, CODE_START_QUERY)});
  for (uint16_t v : {1, 2, 3}) write_local(0, 0, fields({v}));
  // The three stored records complete inside the operator's first read.
  decode_all(0, {op(7, SERIAL_SEND, 0, -1, 1), message(7, CODE_START_QUERY)});
  run_loop(20000);
  ASSERT_EQ(to_host.size(), 3u);
  for (int i = 0; i < 3; ++i) {
    EXPECT_EQ(to_host[i].msg.data[1], i + 1);
    if (i > 0) {
      EXPECT_EQ(to_host[i].time - to_host[i - 1].time, UART_SEND_DELAY);
    }
  }
}

TEST_F(Operators, AFullSerialQueueDropsTheNewestResults) {
  boot({0});
  decode_all(0, {local_open(7, 20), message(7, CODE_START_QUERY)});
  for (uint16_t v = 1; v <= 20; ++v) write_local(0, 0, fields({v}));
  decode_all(0, {op(7, SERIAL_SEND, 0, -1, 1), message(7, CODE_START_QUERY)});
  // One in flight, sixteen waiting, three lost.
  EXPECT_EQ(vars_of(0).serial_dropped, 3);
  run_loop(100000);
  ASSERT_EQ(to_host.size(), 17u);
  for (int i = 0; i < 17; ++i) EXPECT_EQ(to_host[i].msg.data[1], i + 1);
}

TEST_F(Operators, ASerialResultWaitsWhileTheLayerIsBusyWithAnotherSend) {
  install(0, op(7, SERIAL_SEND, 0, -1, 1));
  start();
  as_mote(0);
  VEX_Msg other{};
  ASSERT_EQ(AMPromiscuous::SendMsg_send(77, 4, 0, &other), SUCCESS);  // nobody's type
  feed({fields({5})});
  EXPECT_TRUE(to_host.empty());
  run_loop(TICKS_PER_SECOND);  // the other packet goes out on the radio first
  ASSERT_EQ(to_host.size(), 1u);
  EXPECT_EQ(to_host[0].msg.data[1], 5);
}

TEST_F(Operators, SerialSendCutsLongDeliveriesToTwentyBytes) {
  install(0, op(7, SERIAL_SEND, 0, -1, 10));
  start();
  std::vector<int8_t> long_record(40, 7);
  as_mote(0);
  SSToApp_readDone(open_of(0, 0).stream_desc, long_record.data(), 40, SUCCESS);
  run_loop(10000);
  ASSERT_EQ(to_host.size(), 1u);
  const VEX_Msg& m = to_host[0].msg;
  EXPECT_EQ(std::vector<int8_t>(m.data, m.data + 20), std::vector<int8_t>(20, 7));
  EXPECT_EQ(std::vector<int8_t>(m.data + 20, m.data + 40), std::vector<int8_t>(20, 0));
}
}  // namespace
}  // namespace query_test

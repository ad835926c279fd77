// Pair and window aggregates, installed on local streams of one mote and fed
// sensor-like records [address, timestamp, epoch, value] (8 bytes) by
// writing to their inputs.

#include <string>

#include "query_fixture.hpp"

namespace query_test {
namespace {
using Records = std::vector<std::vector<int8_t>>;

// A sensor-like record: address, timestamp, epoch, value.
std::vector<int8_t> sample(uint16_t address, uint16_t ts, uint16_t epoch, uint16_t value) {
  return fields({address, ts, epoch, value});
}

// A record padded with zeros to `n` bytes.
std::vector<int8_t> padded(std::vector<int8_t> r, std::size_t n) {
  r.resize(n, 0);
  return r;
}

// Streams A, B and the output are open entries (and local streams) 0, 1, 2.
// X reads A and names B, Y reads B and names A; both write to the output.
class PairAggregate : public QueryTest {
 protected:
  void install(uint8_t kind_x, uint8_t kind_y, uint8_t field1, uint8_t field2,
               uint8_t constant = 0, uint8_t constant3 = 9, int starts = 1,
               uint8_t constant2 = 0) {
    mote_ = next_mote_++;  // a fresh mote for every installation
    boot({mote_});
    OperatorMsg x = op(7, kind_x, 0, 2, 10);
    x.stream_input2 = 1;
    OperatorMsg y = op(7, kind_y, 1, 2, 10);
    y.stream_input2 = 0;
    for (OperatorMsg* m : {&x, &y}) {
      m->field1 = field1;
      m->field2 = field2;
      m->constant = constant;
      m->constant2 = constant2;
      m->constant3 = constant3;
    }
    decode_all(mote_, {local_open(7, 8), local_open(7, 8), local_open(7, 8), x, y});
    for (int i = 0; i < starts; ++i) decode(mote_, message(7, CODE_START_QUERY));
  }
  void a(const std::vector<int8_t>& r) { write_local(mote_, 0, r); }
  void b(const std::vector<int8_t>& r) { write_local(mote_, 1, r); }
  Records output() { return stored(mote_, 2); }
  const record_type& held_x() { return op_of(mote_, 0).record; }
  const record_type& held_y() { return op_of(mote_, 1).record; }

  uint16_t mote_ = 0;
  uint16_t next_mote_ = 1;
};

TEST_F(PairAggregate, AnAverageMatchesABRecordOneTickOlderThanTheNewARecord) {
  // Final average of 201 and 100 is 150; the count 2 goes into byte m3 = 9,
  // beyond the 8-byte records, and the rest of the ten bytes is the A record.
  install(AVG_1, AVG_2, 3, 3, 1);
  b(sample(5, 7, 1, 100));
  std::string lines = output_of(DBG_USR1, [&] { a(sample(4, 8, 1, 201)); });
  const std::string m = std::to_string(mote_) + ": ";
  std::size_t at = 0;
  for (const std::string line : {" A V E R A G E  1 \n", "I timestamp 8 e 7 sono uguali \n",
                                 "AVERAGE 1 ...molteplicita record_1 1\n",
                                 "AVERAGE 1 ...molteplicita record_2 0\n",
                                 " A V E R A G E  1 FINAL...valore di data e' 150 \n"}) {
    at = lines.find(m + line, at);
    EXPECT_NE(at, std::string::npos) << line << lines;
  }
  std::vector<int8_t> expected = padded(fields({4, 8, 1, 150}), 10);
  expected[9] = 2;
  EXPECT_EQ(output(), Records{expected});
  EXPECT_EQ(held_y().numfields, 0);  // consumed by the match
  EXPECT_EQ(held_x().numfields, 10);
  EXPECT_EQ(std::vector<int8_t>(held_x().data.buffer, held_x().data.buffer + 20),
            padded(sample(4, 8, 1, 201), 20));
}

TEST_F(PairAggregate, TheNewARecordDropsAStaleBRecordAndKeepsAnEqualOne) {
  install(AVG_1, AVG_2, 3, 3);
  b(sample(5, 7, 1, 100));
  a(sample(4, 9, 1, 201));  // two ticks newer: B is stale
  EXPECT_TRUE(output().empty());
  EXPECT_EQ(held_y().numfields, 0);

  install(AVG_1, AVG_2, 3, 3);
  b(sample(5, 7, 1, 100));
  a(sample(4, 7, 1, 201));  // same timestamp: both wait
  EXPECT_TRUE(output().empty());
  EXPECT_EQ(held_y().numfields, 10);
  EXPECT_EQ(held_x().numfields, 10);
}

TEST_F(PairAggregate, TheSecondOperatorMatchesAnARecordTwoTicksOlder) {
  install(AVG_1, AVG_2, 3, 3);
  a(sample(4, 8, 1, 10));
  b(sample(5, 9, 1, 20));  // one tick: no match, both held
  EXPECT_TRUE(output().empty());
  EXPECT_EQ(held_x().numfields, 10);

  install(AVG_1, AVG_2, 3, 3);
  a(sample(4, 7, 1, 10));
  b(sample(5, 9, 1, 20));
  std::vector<int8_t> expected = padded(fields({4, 7, 1, 15}), 10);  // built from A
  expected[9] = 2;
  EXPECT_EQ(output(), Records{expected});
  EXPECT_EQ(held_x().numfields, 0);
}

TEST_F(PairAggregate, AnUnmatchedARecordIsFlushedAloneByTheNextOne) {
  // Two starts give A a second read, so A runs twice with no B in between.
  install(AVG_1, AVG_2, 3, 3, 0, 9, 2);
  a(sample(4, 7, 1, 10));
  a(sample(4, 20, 1, 11));
  // Twenty bytes, the count byte set to 1, zeros beyond the record's end.
  std::vector<int8_t> alone = padded(sample(4, 7, 1, 10), 20);
  alone[9] = 1;
  EXPECT_EQ(output(), Records{alone});
}

TEST_F(PairAggregate, AnUnmatchedBRecordIsFlushedAsHeld) {
  // Y marks a record it holds with 1 in byte 2 * constant2 when that byte is 0.
  install(AVG_1, AVG_2, 3, 3, 0, 9, 2, 4);
  b(sample(5, 7, 1, 10));
  b(sample(5, 30, 1, 11));
  std::vector<int8_t> alone = padded(sample(5, 7, 1, 10), 10);
  alone[8] = 1;
  EXPECT_EQ(output(), Records{alone});
}

TEST_F(PairAggregate, PartialAveragesWriteTheSixteenBitSum) {
  install(AVG_P1, AVG_P2, 3, 3, 0, 8);
  b(sample(5, 7, 1, 100));
  a(sample(4, 8, 1, 200));
  ASSERT_EQ(output().size(), 1u);
  const std::vector<int8_t> out = output()[0];
  ASSERT_EQ(out.size(), 10u);
  EXPECT_EQ(out[6], 0x01);  // 300
  EXPECT_EQ(out[7], 0x2C);
  EXPECT_EQ(out[8], 2);
}

TEST_F(PairAggregate, MaxMinComparesLowBytesCopiesWholeFieldsAndGivesTiesToB) {
  // A's value field is 0x0105 (low byte 5), B's 0x0007.
  const auto run = [&](uint8_t constant, uint16_t b_value) {
    install(MAX_MIN_1, MAX_MIN_2, 3, 3, constant);
    b(sample(5, 7, 1, b_value));
    a(sample(4, 8, 1, 0x0105));
    Records out = output();
    EXPECT_EQ(out.size(), 1u);
    return out.empty() ? std::vector<int8_t>{} : out[0];
  };
  EXPECT_EQ(run(1, 7), padded(sample(4, 8, 1, 0x0105), 20));  // constant 1: minimum
  EXPECT_EQ(run(0, 7), padded(sample(4, 8, 1, 7), 20));       // otherwise maximum
  EXPECT_EQ(run(1, 0x0205), padded(sample(4, 8, 1, 0x0205), 20));  // tie: B
  EXPECT_EQ(run(0, 0x0205), padded(sample(4, 8, 1, 0x0205), 20));
}

TEST_F(PairAggregate, MaxMinFromTheSecondStreamUsesTheHeldARecord) {
  install(MAX_MIN_1, MAX_MIN_2, 3, 3, 0);
  a(sample(4, 7, 1, 50));
  b(sample(5, 9, 1, 60));
  EXPECT_EQ(output(), Records{padded(sample(4, 7, 1, 60), 20)});
  EXPECT_EQ(held_x().numfields, 0);
}

TEST_F(PairAggregate, ReadingAlternatesBetweenTheTwoStreams) {
  install(AVG_1, AVG_2, 3, 3);
  stream_type sa = open_of(mote_, 0).stream_desc;
  stream_type sb = open_of(mote_, 1).stream_desc;
  a(sample(4, 7, 1, 10));  // X asks for B
  EXPECT_EQ(reads_counted(mote_, sa), 0);
  EXPECT_EQ(reads_counted(mote_, sb), 2);
  b(sample(5, 7, 1, 10));  // Y asks for A
  EXPECT_EQ(reads_counted(mote_, sa), 1);
  EXPECT_EQ(reads_counted(mote_, sb), 1);
}

TEST_F(PairAggregate, RecordsShorterThanTheFieldsNamedReadAsZeros) {
  // A 4-byte A record, flushed alone: nothing of the ring's memory beyond
  // its end reaches the output.
  install(AVG_1, AVG_2, 3, 3, 0, 9, 2);
  a(fields({4, 7}));
  a(fields({4, 20}));
  std::vector<int8_t> alone = padded(fields({4, 7}), 20);
  alone[9] = 1;
  EXPECT_EQ(output(), Records{alone});
}

TEST_F(PairAggregate, TheNewRecordIsReadToItsStoredLengthWhateverTheReadAskedFor) {
  boot({3});
  decode_all(3, {local_open(7), message(7, CODE_START_QUERY)});
  const stream_type s = open_of(3, 0).stream_desc;
  write_local(3, s.no, fields({1, 2, 3}));
  as_mote(3);
  const LSDT_Entry& ring = SSToAppM::vars_of(3).local_table[s.no];
  const int8_t* stored_record = ring.buffer[ring.first].get();
  RecordBytes in = aggregate_input(s, stored_record, 0);  // a read of 0 bytes
  EXPECT_EQ(std::vector<int8_t>(in.begin(), in.end()), padded(fields({1, 2, 3}), 20));
  // A record from no ring (an on-demand sample) is as long as delivered.
  std::vector<int8_t> loose = fields({7, 8, 9});
  in = aggregate_input(s, loose.data(), 4);
  EXPECT_EQ(std::vector<int8_t>(in.begin(), in.end()), padded(fields({7, 8}), 20));
}

// Window aggregates: open entry 0 is the input, 1 the output.
class WindowAggregate : public QueryTest {
 protected:
  void install(uint8_t kind, uint8_t constant, uint8_t length, uint8_t field = 3) {
    mote_ = next_mote_++;
    boot({mote_});
    OperatorMsg w = op(7, kind, 0, 1, 4);
    w.field1 = field;
    w.constant = constant;
    w.constant2 = length;
    decode_all(mote_, {local_open(7, 8), local_open(7, 8), w, message(7, CODE_START_QUERY)});
  }
  void feed(uint16_t epoch, uint16_t value) {
    write_local(mote_, 0, sample(4, static_cast<uint16_t>(100 + epoch), epoch, value));
  }
  Records output() { return stored(mote_, 1); }
  const operator_table_entry& window() { return op_of(mote_, 0); }

  uint16_t mote_ = 0;
  uint16_t next_mote_ = 1;
};

TEST_F(WindowAggregate, AverageOverTwoEpochsClosesWithTheRecordThatEndsThem) {
  install(AVG_T, 0, 2);
  feed(3, 10);
  feed(3, 20);
  feed(4, 30);
  EXPECT_TRUE(output().empty());
  std::string lines = output_of(DBG_USR1, [&] { feed(5, 40); });
  EXPECT_NE(lines.find("  AVG T..somma..100 \n"), std::string::npos) << lines;
  EXPECT_NE(lines.find("  AVG T..count prima..3 \n"), std::string::npos);
  EXPECT_NE(lines.find("  AVG T..count dopo..4 \n"), std::string::npos);
  EXPECT_NE(lines.find("  AVG T..Media prima di inviare.25 \n"), std::string::npos);
  // The first record's address, timestamp and epoch; the average 100 / 4.
  EXPECT_EQ(output(), Records{padded(sample(4, 103, 3, 25), 10)});
  EXPECT_EQ(window().record.numfields, 0);
  feed(6, 50);  // opens the next window
  EXPECT_EQ(window().constant3, 6);
  EXPECT_EQ(window().constant, 1);
}

TEST_F(WindowAggregate, MaxMinTakesTheOppositeMeaningOfTheConstant) {
  install(MAX_MIN_T, 1, 1);  // 1: maximum here
  feed(3, 10);
  feed(3, 30);
  feed(4, 20);
  EXPECT_EQ(output(), Records{padded(sample(4, 103, 3, 30), 10)});

  install(MAX_MIN_T, 0, 1);
  feed(3, 10);
  feed(3, 30);
  feed(4, 20);
  EXPECT_EQ(output(), Records{padded(sample(4, 103, 3, 10), 10)});
}

TEST_F(WindowAggregate, AWindowWhoseEndPassesEpoch255NeverClosesByEpoch) {
  install(MAX_MIN_T, 1, 10);
  for (uint16_t e = 250; e < 256; ++e) feed(e, 1);
  for (uint16_t e = 0; e < 10; ++e) feed(e, 1);  // the epoch's low byte wraps
  EXPECT_TRUE(output().empty());
  EXPECT_EQ(window().record.numfields, 10);
}

TEST_F(WindowAggregate, AnAverageClosesEarlyRatherThanOverflowItsCount) {
  install(AVG_T, 0, 10);
  for (int i = 0; i < 255; ++i) feed(250, 2);
  EXPECT_TRUE(output().empty());
  EXPECT_EQ(window().constant, 255);
  feed(251, 4);  // the 256th record opens a new window
  EXPECT_EQ(output(), Records{padded(sample(4, 350, 250, 2), 10)});
  EXPECT_EQ(window().constant, 1);
  EXPECT_EQ(window().constant3, 251);
}

TEST_F(WindowAggregate, AnAverageClosesEarlyRatherThanOverflowItsSum) {
  install(AVG_T, 0, 5);
  feed(1, 40000);
  feed(1, 20000);
  feed(1, 10000);  // 70000 would not fit in the sixteen-bit field
  EXPECT_EQ(output(), Records{padded(sample(4, 101, 1, 30000), 10)});
  EXPECT_EQ(field_value(window().record, 3), 10000);
}

TEST_F(WindowAggregate, AggregatesNamingBytesOutsideTheirRecordsAreRefused) {
  boot({3});
  OperatorMsg bad = op(7, AVG_T, 0, 1, 4);
  bad.field1 = 10;
  OperatorMsg bad_count = op(7, AVG_1, 0, 1, 4);
  bad_count.field1 = bad_count.field2 = 3;
  bad_count.constant3 = 10;
  // Fields 5-9 exist in a record but not in the ten bytes aggregates keep.
  OperatorMsg beyond_window = op(7, MAX_MIN_T, 0, 1, 4);
  beyond_window.field1 = 5;
  OperatorMsg beyond_pair = op(7, MAX_MIN_2, 0, 1, 4);
  beyond_pair.field1 = 3;
  beyond_pair.field2 = 9;
  OperatorMsg ok = op(7, MAX_MIN_1, 0, 1, 4);
  ok.field1 = ok.field2 = 4;
  ok.constant3 = 200;  // unused by max/min
  decode_all(3, {bad, bad_count, beyond_window, beyond_pair, ok});
  EXPECT_EQ(op_of(3, 0).operator_, MAX_MIN_1);
  EXPECT_EQ(op_of(3, 1).operator_, NO_OPERATOR);
}
}  // namespace
}  // namespace query_test

// Results as the host receives them: 20 bytes read by the layout of the
// stream that feeds the serial output, shown as a table, CSV or JSON Lines.

#include "queryfile/result_record.hpp"
#include "lib/result_sinks.hpp"

#include <gtest/gtest.h>

#include <array>
#include <sstream>

namespace query_file {
namespace {
using namespace brelo_host;

std::array<uint8_t, 20> record(std::initializer_list<uint16_t> fields) {
  std::array<uint8_t, 20> r{};
  std::size_t i = 0;
  for (uint16_t f : fields) {
    r[i++] = static_cast<uint8_t>(f >> 8);
    r[i++] = static_cast<uint8_t>(f & 0xFF);
  }
  return r;
}

TEST(Results, ASensorRecordReadsAsMoteTimestampEpochAndReading) {
  Layout layout{"mote", "timestamp", "epoch", "light"};
  Result r = decode_result(record({3, 300, 2, 200}), &layout, 10 * TICKS_PER_SECOND);
  EXPECT_EQ(r.mote, 3);
  EXPECT_EQ(r.timestamp, 300);  // high byte first
  EXPECT_EQ(r.epoch, 2);
  ASSERT_EQ(r.fields.size(), 1u);
  EXPECT_EQ(r.fields[0], (std::pair<std::string, uint16_t>{"light", 200}));
}

TEST(Results, WithoutALayoutEveryFieldUpToTheLastNonZeroIsShown) {
  Result r = decode_result(record({0, 7, 0, 9}), nullptr, 0);
  EXPECT_FALSE(r.mote);
  ASSERT_EQ(r.fields.size(), 4u);
  EXPECT_EQ(r.fields[3].first, "field3");
  EXPECT_EQ(decode_result(record({}), nullptr, 0).fields.size(), 1u);
}

TEST(Results, TableCsvAndJsonLines) {
  Layout sensor{"mote", "timestamp", "epoch", "light"};
  Layout projected{"light", "timestamp"};
  Result a = decode_result(record({1, 5, 0, 200}), &sensor, 3 * TICKS_PER_SECOND / 2);
  Result b = decode_result(record({150, 6}), &projected, 2 * TICKS_PER_SECOND);

  std::ostringstream unused;
  TableSink table(unused);
  EXPECT_EQ(table.lines(a),
            "    time  mote  timestamp  epoch  fields\n"
            "   1.500     1          5      0  light=200\n");
  EXPECT_EQ(table.lines(b), "   2.000     -          6      -  light=150\n");

  CsvSink csv(unused);
  EXPECT_EQ(csv.lines(a), "time,mote,timestamp,epoch,light\n1.500,1,5,0,200\n");
  EXPECT_EQ(csv.lines(a), "1.500,1,5,0,200\n");
  Result c = decode_result(record({1, 5, 0, 200, 2}), &sensor, 0);
  c.fields.emplace_back("count", 2);
  EXPECT_EQ(csv.lines(c), "time,mote,timestamp,epoch,light,count\n0.000,1,5,0,200,2\n");

  JsonLinesSink json(unused);
  EXPECT_EQ(json.lines(a),
            "{\"time\":1.500,\"mote\":1,\"timestamp\":5,\"epoch\":0,\"fields\":{\"light\":200}}\n");
  EXPECT_EQ(json.lines(b),
            "{\"time\":2.000,\"mote\":null,\"timestamp\":6,\"epoch\":null,\"fields\":{\"light\":150}}\n");
}

}  // namespace
}  // namespace query_file

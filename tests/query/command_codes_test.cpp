// The table of command codes that host tools compose messages from, checked
// against what the engine's decoder does with each code.

#include "query_fixture.hpp"

#include "protocol/operators.hpp"
#include "protocol/sensors.hpp"

namespace query_test {
namespace {
// The kind each code installs, from the rule rather than the table: a code
// installs the kind of the same number, except that the join codes are
// crossed (3 and 4, 5 and 6).
uint32_t documented_kind(uint8_t code) {
  switch (code) {
    case 3: return SYNC_JOIN_O;
    case 4: return SYNC_JOIN_I;
    case 5: return MERGE_JOIN_O;
    case 6: return MERGE_JOIN_I;
    default: return code;
  }
}

class CommandCodes : public QueryTest {
 protected:
  void SetUp() override {
    QueryTest::SetUp();
    boot({0, 3});
  }
};

TEST_F(CommandCodes, EveryOperatorCodeInstallsTheKindTheTableNames) {
  int operator_codes = 0;
  for (const protocol::CommandCode& c : protocol::command_codes) {
    if (c.installs == NO_OPERATOR) continue;
    ++operator_codes;
    EXPECT_EQ(c.installs, documented_kind(c.code)) << c.name;
    const uint8_t query = c.code;  // one query per code, stopped again below
    OperatorMsg m = op(query, c.code, 0, 1);
    m.field1 = m.field2 = 0;
    decode(3, m);
    EXPECT_EQ(op_of(3, 0).operator_, c.installs) << "code " << int(c.code) << " " << c.name;
    EXPECT_EQ(op_of(3, 0).query_id, query);
    // A host composing the kind picks this very code back.
    EXPECT_EQ(install_code(c.installs), c.code) << c.name;
    decode(3, message(query, CODE_STOP_QUERY));
    ASSERT_EQ(op_of(3, 0).operator_, NO_OPERATOR);
  }
  EXPECT_EQ(operator_codes, 18);  // 1-8 and 14-23
}

TEST_F(CommandCodes, OpenCodesStoreTheirStreamKindAndOtherCodesInstallNothing) {
  decode(3, remote_open(1, 7, 3));
  decode(3, local_open(1));
  decode(3, sensor_open(1, protocol::LIGHT, 100));
  EXPECT_EQ(open_of(3, 0).symbolic_name, 7);
  EXPECT_EQ(open_of(3, 1).symbolic_name, 0);
  EXPECT_EQ(open_of(3, 1).sensor_tid, 0);
  EXPECT_EQ(open_of(3, 2).sensor_tid, protocol::LIGHT);
  for (int i = 0; i < 3; ++i) EXPECT_EQ(open_of(3, i).validity, 1);

  for (int code : {0, 24, 200, 255}) {
    ASSERT_EQ(protocol::command_code(static_cast<uint8_t>(code)), nullptr);
    decode(3, op(1, static_cast<uint8_t>(code), 0, 1));
  }
  EXPECT_EQ(open_of(3, 3).validity, 0);
  for (int i = 0; i < OPERATOR_ENTRIES; ++i) EXPECT_EQ(op_of(3, i).operator_, NO_OPERATOR);
}
}  // namespace
}  // namespace query_test

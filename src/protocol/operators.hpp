#pragma once
// The vocabulary of operator messages: operator kinds, predicates, field
// limits, sampling kinds, and the table of command codes. A command code is
// the msg_type of an operator message; the engine decodes it with this table
// and host tools compose messages from it, so both agree on every code.

#include <array>
#include <cstdint>

namespace protocol {
enum operator_type : uint32_t {
  NO_OPERATOR = 0,  // free operator entry
  SELECT_C = 1,
  SELECT_F = 2,
  SYNC_JOIN_I = 3,
  SYNC_JOIN_O = 4,
  MERGE_JOIN_I = 5,
  MERGE_JOIN_O = 6,
  PROJECTION = 7,
  SEND = 8,
  MIRROR = 14,
  SERIAL_SEND = 15,
  AVG_1 = 16,
  AVG_2 = 17,
  AVG_P1 = 18,
  AVG_P2 = 19,
  MAX_MIN_1 = 20,
  MAX_MIN_2 = 21,
  MAX_MIN_T = 22,
  AVG_T = 23,
};
// The eight aggregates keep their working record as their own state.
constexpr bool is_aggregate(uint32_t kind) { return kind >= AVG_1 && kind <= AVG_T; }

// What an aggregate computes, as its code passes it to the shared arithmetic.
enum aggregate_kind : uint8_t {
  PARTIAL_AVERAGE = 11,
  FINAL_AVERAGE = 12,
  MAXIMUM = 13,
  MINIMUM = 14,
};

// Any value outside 1-6 passes nothing.
enum predicate_type : uint32_t {
  EQUAL = 1,
  NOT_EQUAL = 2,
  GREATER = 3,
  GREATER_OR_EQUAL = 4,
  LESS = 5,
  LESS_OR_EQUAL = 6,
};

constexpr uint8_t NO_FIELD = 255;
constexpr uint8_t MAX_FIELDS = 10;    // fields of a record
constexpr uint8_t RECORD_BYTES = 20;  // data bytes of a record

// Sampling kinds of a sensor stream.
constexpr uint8_t PERIODIC = 1;
constexpr uint8_t ON_DEMAND = 2;

// Command codes that do not install an operator.
constexpr uint8_t CODE_OPEN_REMOTE = 9;
constexpr uint8_t CODE_OPEN_LOCAL = 10;
constexpr uint8_t CODE_OPEN_SENSOR = 11;
constexpr uint8_t CODE_START_QUERY = 12;
constexpr uint8_t CODE_STOP_QUERY = 13;

// One command code: the operator it installs (NO_OPERATOR for the opens,
// start and stop), the trace line the engine prints on decoding it, and the
// name a host shows for it.
struct CommandCode {
  uint8_t code;
  operator_type installs;
  const char* trace;
  const char* name;
};

// Codes 0 to 23 in order; 0 and codes past the table do nothing. The join
// codes are crossed: code 3 installs SYNC_JOIN_O (kind 4), code 4
// SYNC_JOIN_I (kind 3), and likewise 5 and 6 for the merge join.
inline constexpr std::array<CommandCode, 24> command_codes = {{
    {0, NO_OPERATOR, nullptr, "nothing"},
    {1, SELECT_C, " CommandCode---select_c.\n", "select_c"},
    {2, SELECT_F, " CommandCode---select_f.\n", "select_f"},
    {3, SYNC_JOIN_O, " CommandCode---sync_join_o.\n", "sync_join_o"},
    {4, SYNC_JOIN_I, " CommandCode---sync_join_i.\n", "sync_join_i"},
    {5, MERGE_JOIN_O, " CommandCode---merge_join_o.\n", "merge_join_o"},
    {6, MERGE_JOIN_I, " CommandCode---merge_join_i.\n", "merge_join_i"},
    {7, PROJECTION, " CommandCode---projection.\n", "projection"},
    {8, SEND, " CommandCode---Send .\n", "send"},
    {CODE_OPEN_REMOTE, NO_OPERATOR, " CommandCode---Open remote stream.\n", "open remote"},
    {CODE_OPEN_LOCAL, NO_OPERATOR, " CommandCode---Open local stream.\n", "open local"},
    {CODE_OPEN_SENSOR, NO_OPERATOR, " CommandCode---Open Sensor stream.\n", "open sensor"},
    {CODE_START_QUERY, NO_OPERATOR, " CommandCode---start_query.\n", "start"},
    {CODE_STOP_QUERY, NO_OPERATOR, " CommandCode---stop_query.\n", "stop"},
    {14, MIRROR, " COMMAND_CODE---MIRROR.\n", "mirror"},
    {15, SERIAL_SEND, " COMMAND_CODE---SERIALSEND.\n", "serial_send"},
    {16, AVG_1, " CommandCode---AVG_1 .\n", "avg_1"},
    {17, AVG_2, " CommandCode---AVG_2.\n", "avg_2"},
    {18, AVG_P1, " CommandCode---AVG_P1 .\n", "avg_p1"},
    {19, AVG_P2, " CommandCode---AVG_P2.\n", "avg_p2"},
    {20, MAX_MIN_1, " CommandCode---MAX_MIN_1 .\n", "max_min_1"},
    {21, MAX_MIN_2, " CommandCode---MAX_MIN_2.\n", "max_min_2"},
    {22, MAX_MIN_T, " CommandCode---MAX_MIN_T.\n", "max_min_t"},
    {23, AVG_T, " CommandCode---AVG_T.\n", "avg_t"},
}};

// The entry of a code; null for 0 and for codes past the table.
constexpr const CommandCode* command_code(uint8_t code) {
  if (code == 0 || code >= command_codes.size()) return nullptr;
  return &command_codes[code];
}

// The name a host shows for a code ("?" past the table).
constexpr const char* command_name(uint8_t code) {
  return code < command_codes.size() ? command_codes[code].name : "?";
}

// The command code that installs an operator kind (0 for none).
constexpr uint8_t install_code(operator_type kind) {
  for (const CommandCode& c : command_codes) {
    if (c.installs == kind && kind != NO_OPERATOR) return c.code;
  }
  return 0;
}

static_assert([] {
  for (uint8_t i = 0; i < command_codes.size(); ++i) {
    if (command_codes[i].code != i) return false;
  }
  return true;
}());
static_assert(install_code(SYNC_JOIN_O) == 3 && install_code(SYNC_JOIN_I) == 4);
static_assert(install_code(MERGE_JOIN_O) == 5 && install_code(MERGE_JOIN_I) == 6);
}  // namespace protocol

#pragma once
// Operator messages as a host composes them: one builder per kind of
// message, with every unused stream index -1 and every unused field 255.
// Shared by brelo-ctl's query runner and the tests of the query engine.

#include <cstdint>
#include <span>

#include "query/operator_msg.hpp"
#include "query/pellund_m.hpp"

namespace operator_messages {
using PellundM::OperatorMsg;

inline OperatorMsg message(uint8_t query, uint8_t code) {
  OperatorMsg m{};
  m.query_id = query;
  m.msg_type = code;
  m.stream_output = m.stream_input1 = m.stream_input2 = -1;
  m.field1 = m.field2 = PellundM::NO_FIELD;
  return m;
}
inline OperatorMsg local_open(uint8_t query, uint8_t capacity = 4) {
  OperatorMsg m = message(query, PellundM::CODE_OPEN_LOCAL);
  m.buffer_size = capacity;
  return m;
}
inline OperatorMsg sensor_open(uint8_t query, uint8_t sensor, uint32_t rate,
                               uint8_t sampling = PellundM::PERIODIC, uint8_t capacity = 4) {
  OperatorMsg m = message(query, PellundM::CODE_OPEN_SENSOR);
  m.sensor_tid = sensor;
  m.stream_rate = rate;
  m.sampling_type = sampling;
  m.buffer_size = capacity;
  return m;
}
inline OperatorMsg remote_open(uint8_t query, uint8_t name, uint16_t dest,
                               uint8_t capacity = 4) {
  OperatorMsg m = message(query, PellundM::CODE_OPEN_REMOTE);
  m.symbolic_name = name;
  m.stream_rate = 100;
  m.buffer_size = capacity;
  m.remote_stream_dest = dest;
  return m;
}
inline OperatorMsg op(uint8_t query, uint8_t code, int8_t in1, int8_t out,
                      uint8_t numfields = 4) {
  OperatorMsg m = message(query, code);
  m.stream_input1 = in1;
  m.stream_output = out;
  m.numfields = numfields;
  return m;
}
inline OperatorMsg selection(uint8_t query, int8_t in1, int8_t out, uint8_t predicate,
                             uint8_t field, uint8_t constant, uint8_t numfields = 4) {
  OperatorMsg m = op(query, PellundM::SELECT_C, in1, out, numfields);
  m.predicate = predicate;
  m.field1 = field;
  m.constant = constant;
  return m;
}

// The command code that installs an operator kind. The join codes are
// crossed: code 3 installs SYNC_JOIN_O (kind 4), code 4 SYNC_JOIN_I (kind 3),
// and likewise 5 and 6 for the merge join.
constexpr uint8_t install_code(PellundM::operator_type kind) {
  switch (kind) {
    case PellundM::SYNC_JOIN_O: return 3;
    case PellundM::SYNC_JOIN_I: return 4;
    case PellundM::MERGE_JOIN_O: return 5;
    case PellundM::MERGE_JOIN_I: return 6;
    default: return static_cast<uint8_t>(kind);
  }
}

// The 32 bytes that travel in the data of the serial message.
inline std::span<const uint8_t> bytes_of(const OperatorMsg& m) {
  return {reinterpret_cast<const uint8_t*>(&m), sizeof m};
}
}  // namespace operator_messages

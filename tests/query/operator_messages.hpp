#pragma once
// Operator messages as a host composes them, and records of the query
// engine, for tests in process and over the control port alike.

#include <cstdint>
#include <initializer_list>
#include <vector>

#include "query/operator_msg.hpp"
#include "query/pellund_m.hpp"

namespace query_test {
using namespace PellundM;

inline OperatorMsg message(uint8_t query, uint8_t code) {
  OperatorMsg m{};
  m.query_id = query;
  m.msg_type = code;
  m.stream_output = m.stream_input1 = m.stream_input2 = -1;
  m.field1 = m.field2 = NO_FIELD;
  return m;
}
inline OperatorMsg local_open(uint8_t query, uint8_t capacity = 4) {
  OperatorMsg m = message(query, CODE_OPEN_LOCAL);
  m.buffer_size = capacity;
  return m;
}
inline OperatorMsg sensor_open(uint8_t query, uint8_t sensor, uint32_t rate,
                               uint8_t sampling = PERIODIC, uint8_t capacity = 4) {
  OperatorMsg m = message(query, CODE_OPEN_SENSOR);
  m.sensor_tid = sensor;
  m.stream_rate = rate;
  m.sampling_type = sampling;
  m.buffer_size = capacity;
  return m;
}
inline OperatorMsg remote_open(uint8_t query, uint8_t name, uint16_t dest,
                               uint8_t capacity = 4) {
  OperatorMsg m = message(query, CODE_OPEN_REMOTE);
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
  OperatorMsg m = op(query, SELECT_C, in1, out, numfields);
  m.predicate = predicate;
  m.field1 = field;
  m.constant = constant;
  return m;
}

// A record of 16-bit fields, high byte first.
inline std::vector<int8_t> fields(std::initializer_list<uint16_t> values) {
  std::vector<int8_t> out;
  for (uint16_t v : values) {
    out.push_back(static_cast<int8_t>(v >> 8));
    out.push_back(static_cast<int8_t>(v & 0xFF));
  }
  return out;
}
}  // namespace query_test

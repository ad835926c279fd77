#pragma once
// The operator message: one step of installing or running a query (store a
// stream open, install an operator, start or stop a query). The host sends
// it on mote 0's serial port as type AM_OPERATORMSG; mote 0 forwards the
// ones meant for other motes over the radio, unchanged, as type AM_RADIOMSG.
// Its 32 bytes are those of the record on a little-endian 32-bit machine,
// padding included; the host struct has the same layout, which the
// assertions below pin down.

#include <cstddef>
#include <cstdint>

namespace protocol {
struct OperatorMsg {
  uint8_t query_id;
  uint8_t msg_type;  // command code (operators.hpp)
  int8_t stream_output;  // open-table indexes
  int8_t stream_input1;
  int8_t stream_input2;
  uint8_t predicate;
  uint8_t field1;
  uint8_t field2;
  uint8_t constant;
  uint8_t constant2;
  uint8_t constant3;
  uint8_t numfields;  // two-byte fields the operator reads per record
  uint8_t symbolic_name;
  uint8_t pad_13[3];
  uint32_t stream_rate;
  uint32_t start_time;
  uint8_t reliability;
  uint8_t buffer_size;
  uint16_t remote_stream_dest;
  uint8_t sensor_tid;
  uint8_t sampling_type;
  uint8_t pad_30[2];
};
// The forwarded form has the same bytes.
using RadioMsg = OperatorMsg;

static_assert(sizeof(OperatorMsg) == 32);
static_assert(offsetof(OperatorMsg, query_id) == 0);
static_assert(offsetof(OperatorMsg, msg_type) == 1);
static_assert(offsetof(OperatorMsg, stream_output) == 2);
static_assert(offsetof(OperatorMsg, stream_input1) == 3);
static_assert(offsetof(OperatorMsg, stream_input2) == 4);
static_assert(offsetof(OperatorMsg, predicate) == 5);
static_assert(offsetof(OperatorMsg, field1) == 6);
static_assert(offsetof(OperatorMsg, field2) == 7);
static_assert(offsetof(OperatorMsg, constant) == 8);
static_assert(offsetof(OperatorMsg, constant2) == 9);
static_assert(offsetof(OperatorMsg, constant3) == 10);
static_assert(offsetof(OperatorMsg, numfields) == 11);
static_assert(offsetof(OperatorMsg, symbolic_name) == 12);
static_assert(offsetof(OperatorMsg, stream_rate) == 16);
static_assert(offsetof(OperatorMsg, start_time) == 20);
static_assert(offsetof(OperatorMsg, reliability) == 24);
static_assert(offsetof(OperatorMsg, buffer_size) == 25);
static_assert(offsetof(OperatorMsg, remote_stream_dest) == 26);
static_assert(offsetof(OperatorMsg, sensor_tid) == 28);
static_assert(offsetof(OperatorMsg, sampling_type) == 29);

constexpr uint8_t OPERATOR_MSG_LENGTH = sizeof(OperatorMsg);

}  // namespace protocol

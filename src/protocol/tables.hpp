#pragma once
// The query engine's per-mote tables, entry by entry. Control clients
// inspecting them receive these bytes, so the host structs keep the layout
// of the 32-bit machine, which the assertions pin down.

#include <cstddef>
#include <cstdint>

#include "protocol/operators.hpp"
#include "protocol/records.hpp"

namespace protocol {
struct operator_table_entry {
  uint8_t query_id;
  operator_type operator_;  // "operator" is reserved in C++; 0 = entry free
  int8_t stream_output;     // open-table indexes; -1 = none
  int8_t stream_input1;     // the driving input
  int8_t stream_input2;     // second input or partner stream
  predicate_type predicate;
  uint8_t field1;  // NO_FIELD = none
  uint8_t field2;
  uint8_t constant;
  uint8_t constant2;
  uint8_t constant3;
  record_type record;  // last input record, or the aggregate's state
};
static_assert(sizeof(operator_table_entry) == 44);
static_assert(offsetof(operator_table_entry, operator_) == 4);
static_assert(offsetof(operator_table_entry, stream_output) == 8);
static_assert(offsetof(operator_table_entry, stream_input1) == 9);
static_assert(offsetof(operator_table_entry, stream_input2) == 10);
static_assert(offsetof(operator_table_entry, predicate) == 12);
static_assert(offsetof(operator_table_entry, field1) == 16);
static_assert(offsetof(operator_table_entry, field2) == 17);
static_assert(offsetof(operator_table_entry, constant) == 18);
static_assert(offsetof(operator_table_entry, constant2) == 19);
static_assert(offsetof(operator_table_entry, constant3) == 20);
static_assert(offsetof(operator_table_entry, record) == 21);

// One stream open. Its kind follows from its fields: sensor_tid != 0 is a
// sensor stream, else symbolic_name != 0 a remote stream, else local.
struct open_table_entry {
  uint8_t query_id;
  stream_type stream_desc;  // no < 0 while not opened
  uint8_t symbolic_name;
  uint32_t stream_rate;
  split_time start_time;  // high word always 0
  uint8_t reliability;
  uint8_t buffer_size;
  uint16_t dest;  // the mote's own address on the reading side
  uint8_t sensor_tid;
  uint8_t sampling_type;
  uint8_t validity;  // 1 = in use
};
static_assert(sizeof(open_table_entry) == 24);
static_assert(offsetof(open_table_entry, stream_desc) == 1);
static_assert(offsetof(open_table_entry, symbolic_name) == 3);
static_assert(offsetof(open_table_entry, stream_rate) == 4);
static_assert(offsetof(open_table_entry, start_time) == 8);
static_assert(offsetof(open_table_entry, reliability) == 16);
static_assert(offsetof(open_table_entry, buffer_size) == 17);
static_assert(offsetof(open_table_entry, dest) == 18);
static_assert(offsetof(open_table_entry, sensor_tid) == 20);
static_assert(offsetof(open_table_entry, sampling_type) == 21);
static_assert(offsetof(open_table_entry, validity) == 22);

// A remote open handed to the stream system and not yet answered.
struct app_open_request {
  uint8_t symbolic_name;  // 0 = entry free
  uint32_t stream_rate;
  split_time start_time;
  uint8_t reliability;
  uint8_t buffer_size;
  uint16_t dest;
};
static_assert(sizeof(app_open_request) == 20);
static_assert(offsetof(app_open_request, stream_rate) == 4);
static_assert(offsetof(app_open_request, start_time) == 8);
static_assert(offsetof(app_open_request, reliability) == 16);
static_assert(offsetof(app_open_request, buffer_size) == 17);
static_assert(offsetof(app_open_request, dest) == 18);

// The reads issued on one stream and not yet completed.
struct app_read_request {
  stream_type stream_desc;  // no = -1: entry free
  uint8_t num_reads;
};
static_assert(sizeof(app_read_request) == 3);
}  // namespace protocol

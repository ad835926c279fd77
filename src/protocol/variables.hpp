#pragma once
// The component variables a control client may inspect: each one's name
// ("Module$variable"), the size of one mote's copy in the layout of a
// little-endian 32-bit machine (pointers count 4 bytes, padding included),
// and how to read those bytes: one value, or a table of entries with named
// fields. The server sizes its replies by this list and brelo-ctl decodes
// them by it.

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string_view>

#include "protocol/limits.hpp"
#include "protocol/records.hpp"
#include "protocol/tables.hpp"

namespace protocol {
enum class ValueKind : uint8_t { u8, i8, u16, i16, u32, i32, pointer, bytes };

struct FieldLayout {
  const char* name;
  uint8_t offset;  // within the entry
  ValueKind kind;
  uint8_t count = 1;  // elements of an array field (bytes: its length)
};

struct VariableLayout {
  const char* name;
  uint16_t entry_size;
  uint8_t entries;
  // How a variable without fields reads: a 1, 2 or 4-byte number (pointer:
  // null or set); `bytes` and longer plain variables have no reading.
  ValueKind kind;
  std::span<const FieldLayout> fields;  // empty unless a table

  constexpr uint32_t size() const { return uint32_t{entry_size} * entries; }
};

namespace variable_fields {
constexpr uint8_t at(std::size_t offset) { return static_cast<uint8_t>(offset); }

// The cursors, pointers and waiting reads of every ring-backed stream entry,
// after the entry's own fields: the five cursor bytes at `bytes`, the two
// pointers at `pointers`, then the four waiting reads and three counters.
template <std::size_t N>
constexpr std::array<FieldLayout, N + 11> with_ring(const std::array<FieldLayout, N>& head,
                                                    uint8_t bytes, uint8_t pointers) {
  std::array<FieldLayout, N + 11> all{};
  for (std::size_t i = 0; i < N; ++i) all[i] = head[i];
  const char* cursors[] = {"first", "last", "current_cursor", "buffer_size", "data_counter"};
  for (uint8_t i = 0; i < 5; ++i) all[N + i] = {cursors[i], uint8_t(bytes + i), ValueKind::u8};
  all[N + 5] = {"buffer", pointers, ValueKind::pointer};
  all[N + 6] = {"buffer_elem_size", uint8_t(pointers + 4), ValueKind::pointer};
  all[N + 7] = {"read_requested", uint8_t(pointers + 8), ValueKind::u8, 4};
  all[N + 8] = {"tail", uint8_t(pointers + 12), ValueKind::u8};
  all[N + 9] = {"head", uint8_t(pointers + 13), ValueKind::u8};
  all[N + 10] = {"num_reads", uint8_t(pointers + 14), ValueKind::u8};
  return all;
}

inline constexpr std::array<FieldLayout, 13> operator_table_fields = {{
    {"query_id", at(offsetof(operator_table_entry, query_id)), ValueKind::u8},
    {"operator", at(offsetof(operator_table_entry, operator_)), ValueKind::u32},
    {"stream_output", at(offsetof(operator_table_entry, stream_output)), ValueKind::i8},
    {"stream_input1", at(offsetof(operator_table_entry, stream_input1)), ValueKind::i8},
    {"stream_input2", at(offsetof(operator_table_entry, stream_input2)), ValueKind::i8},
    {"predicate", at(offsetof(operator_table_entry, predicate)), ValueKind::u32},
    {"field1", at(offsetof(operator_table_entry, field1)), ValueKind::u8},
    {"field2", at(offsetof(operator_table_entry, field2)), ValueKind::u8},
    {"constant", at(offsetof(operator_table_entry, constant)), ValueKind::u8},
    {"constant2", at(offsetof(operator_table_entry, constant2)), ValueKind::u8},
    {"constant3", at(offsetof(operator_table_entry, constant3)), ValueKind::u8},
    {"numfields", at(offsetof(operator_table_entry, record) + offsetof(record_type, numfields)),
     ValueKind::u8},
    {"data", at(offsetof(operator_table_entry, record) + offsetof(record_type, data)),
     ValueKind::bytes, RECORD_BYTES},
}};
inline constexpr std::array<FieldLayout, 12> open_table_fields = {{
    {"query_id", at(offsetof(open_table_entry, query_id)), ValueKind::u8},
    {"table_id", at(offsetof(open_table_entry, stream_desc) + offsetof(stream_type, table_id)),
     ValueKind::u8},
    {"no", at(offsetof(open_table_entry, stream_desc) + offsetof(stream_type, no)), ValueKind::i8},
    {"symbolic_name", at(offsetof(open_table_entry, symbolic_name)), ValueKind::u8},
    {"stream_rate", at(offsetof(open_table_entry, stream_rate)), ValueKind::u32},
    {"start_time", at(offsetof(open_table_entry, start_time) + offsetof(split_time, low32)),
     ValueKind::u32},
    {"reliability", at(offsetof(open_table_entry, reliability)), ValueKind::u8},
    {"buffer_size", at(offsetof(open_table_entry, buffer_size)), ValueKind::u8},
    {"dest", at(offsetof(open_table_entry, dest)), ValueKind::u16},
    {"sensor_tid", at(offsetof(open_table_entry, sensor_tid)), ValueKind::u8},
    {"sampling_type", at(offsetof(open_table_entry, sampling_type)), ValueKind::u8},
    {"validity", at(offsetof(open_table_entry, validity)), ValueKind::u8},
}};
inline constexpr std::array<FieldLayout, 6> open_request_fields = {{
    {"symbolic_name", at(offsetof(app_open_request, symbolic_name)), ValueKind::u8},
    {"stream_rate", at(offsetof(app_open_request, stream_rate)), ValueKind::u32},
    {"start_time", at(offsetof(app_open_request, start_time) + offsetof(split_time, low32)),
     ValueKind::u32},
    {"reliability", at(offsetof(app_open_request, reliability)), ValueKind::u8},
    {"buffer_size", at(offsetof(app_open_request, buffer_size)), ValueKind::u8},
    {"dest", at(offsetof(app_open_request, dest)), ValueKind::u16},
}};
inline constexpr std::array<FieldLayout, 2> stream_desc_fields = {{
    {"table_id", at(offsetof(stream_type, table_id)), ValueKind::u8},
    {"no", at(offsetof(stream_type, no)), ValueKind::i8},
}};
inline constexpr std::array<FieldLayout, 3> read_request_fields = {{
    {"table_id", at(offsetof(app_read_request, stream_desc) + offsetof(stream_type, table_id)),
     ValueKind::u8},
    {"no", at(offsetof(app_read_request, stream_desc) + offsetof(stream_type, no)), ValueKind::i8},
    {"num_reads", at(offsetof(app_read_request, num_reads)), ValueKind::u8},
}};
// A timer: its type byte, then its interval and what is left of it.
inline constexpr std::array<FieldLayout, 3> timer_fields = {{
    {"type", 0, ValueKind::u8}, {"ticks", 4, ValueKind::i32}, {"ticksLeft", 8, ValueKind::i32}}};
inline constexpr std::array<FieldLayout, 1> timer_queue_fields = {{{"id", 0, ValueKind::i8}}};
inline constexpr std::array<FieldLayout, 3> channel_fields = {{
    {"channel_id", 0, ValueKind::i32}, {"dest", 4, ValueKind::u16}, {"validity", 6, ValueKind::u8}}};
// 24 bytes: validity, the ring from byte 1, its pointers from byte 8.
inline constexpr auto local_stream_fields =
    with_ring(std::array<FieldLayout, 1>{{{"validity", 0, ValueKind::u8}}}, 1, 8);
// 32 bytes: sensor id, the rate at byte 4, the sampling type, the ring from
// byte 9 with its pointers from byte 16.
inline constexpr auto sensor_stream_fields =
    with_ring(std::array<FieldLayout, 3>{{{"sensor_tid", 0, ValueKind::u8},
                                          {"stream_rate", 4, ValueKind::u32},
                                          {"sampling_type", 8, ValueKind::u8}}},
              9, 16);
// 60 bytes: the name, four channels and four rates from byte 4, three
// counters at 36, the ring from byte 39 with its pointers from 44.
inline constexpr auto dest_remote_fields =
    with_ring(std::array<FieldLayout, 6>{{{"symbolic_name", 0, ValueKind::u8},
                                          {"channel_id", 4, ValueKind::i32, 4},
                                          {"stream_rate", 20, ValueKind::u32, 4},
                                          {"src_validity", 36, ValueKind::u8},
                                          {"reliability", 37, ValueKind::u8},
                                          {"src_counter", 38, ValueKind::u8}}},
              39, 44);
// 12 bytes: channel, name, cursor, capacity, then the copy ring's pointer.
inline constexpr std::array<FieldLayout, 5> src_remote_fields = {{
    {"channel_id", 0, ValueKind::i32},
    {"symbolic_name", 4, ValueKind::u8},
    {"current_cursor", 5, ValueKind::u8},
    {"buffer_size", 6, ValueKind::u8},
    {"buffer", 8, ValueKind::pointer},
}};

constexpr VariableLayout scalar(const char* name, uint16_t size, ValueKind kind) {
  return {name, size, 1, kind, {}};
}
template <std::size_t N>
constexpr VariableLayout table(const char* name, std::size_t entry_size, int entries,
                               const std::array<FieldLayout, N>& fields) {
  return {name, static_cast<uint16_t>(entry_size), static_cast<uint8_t>(entries), ValueKind::bytes,
          fields};
}
}  // namespace variable_fields

// Every inspectable variable, in the server's lookup order.
inline constexpr auto variables = [] {
  using namespace variable_fields;
  return std::array<VariableLayout, 108>{{
      table("PellundM$operator_table", sizeof(operator_table_entry), OPERATOR_ENTRIES, operator_table_fields),
      table("PellundM$open_table", sizeof(open_table_entry), OPEN_ENTRIES, open_table_fields),
      table("PellundM$open_requested", sizeof(app_open_request), OPEN_REQUESTS, open_request_fields),
      table("PellundM$read_requested", sizeof(app_read_request), READ_REQUESTS, read_request_fields),
      scalar("PellundM$send_pending", 1, ValueKind::u8),
      scalar("PellundM$pkt", 112, ValueKind::bytes),
      scalar("PellundM$gTxMsg", 112, ValueKind::bytes),
      scalar("PellundM$radio_send_pending", 1, ValueKind::u8),
      scalar("SSToAppM$packet", 44, ValueKind::bytes),
      table("SSToAppM$openRemoteDone_stream_desc", sizeof(stream_type), 1, stream_desc_fields),
      scalar("SSToAppM$openRemoteDone_symbolic_name", 1, ValueKind::u8),
      scalar("SSToAppM$openRemoteDone_success", 1, ValueKind::u8),
      scalar("SSToAppM$insertDataTaskLight_data", 2, ValueKind::u16),
      scalar("SSToAppM$insertDataTaskTemp_data", 2, ValueKind::u16),
      scalar("SSToAppM$insertDataTaskVoice_data", 2, ValueKind::u16),
      scalar("SSToAppM$insertDataTaskAccelX_data", 2, ValueKind::u16),
      scalar("SSToAppM$insertDataTaskAccelY_data", 2, ValueKind::u16),
      scalar("SSToAppM$insertDataTaskMagX_data", 2, ValueKind::u16),
      scalar("SSToAppM$insertDataTaskMagY_data", 2, ValueKind::u16),
      scalar("SSToAppM$insertDataTaskLight_timestamp", 2, ValueKind::u16),
      scalar("SSToAppM$insertDataTaskTemp_timestamp", 2, ValueKind::u16),
      scalar("SSToAppM$insertDataTaskVoice_timestamp", 2, ValueKind::u16),
      scalar("SSToAppM$insertDataTaskAccelX_timestamp", 2, ValueKind::u16),
      scalar("SSToAppM$insertDataTaskAccelY_timestamp", 2, ValueKind::u16),
      scalar("SSToAppM$insertDataTaskMagX_timestamp", 2, ValueKind::u16),
      scalar("SSToAppM$insertDataTaskMagY_timestamp", 2, ValueKind::u16),
      table("SSToAppM$src_remote_table", 12, STREAM_ENTRIES, src_remote_fields),
      table("SSToAppM$dest_remote_table", 60, STREAM_ENTRIES, dest_remote_fields),
      table("SSToAppM$sensor_table", 32, STREAM_ENTRIES, sensor_stream_fields),
      table("SSToAppM$local_table", 24, STREAM_ENTRIES, local_stream_fields),
      scalar("SSToAppM$timestamp", 2, ValueKind::u16),
      scalar("SSToAppM$timestamp_rate", 2, ValueKind::u16),
      scalar("SSToAppM$epotime", 2, ValueKind::u16),
      scalar("SSToAppM$epoch_rate", 2, ValueKind::u16),
      table("NetToSSM$channel_table", 8, CHANNELS, channel_fields),
      scalar("NetToSSM$send_pending", 1, ValueKind::u8),
      scalar("NetToSSM$pbuffer", 4, ValueKind::pointer),
      scalar("NetToSSM$global_buffer", 112, ValueKind::bytes),
      scalar("NetToSSM$connect_buffer", 112, ValueKind::bytes),
      scalar("NetToSSM$disconnect_buffer", 112, ValueKind::bytes),
      scalar("NetToSSM$send_buffer", 112, ValueKind::bytes),
      scalar("AMPromiscuous$state", 1, ValueKind::u8),
      scalar("AMPromiscuous$buffer", 4, ValueKind::pointer),
      scalar("AMPromiscuous$lastCount", 2, ValueKind::u16),
      scalar("AMPromiscuous$counter", 2, ValueKind::u16),
      scalar("AMPromiscuous$promiscuous_mode", 1, ValueKind::u8),
      scalar("AMPromiscuous$crc_check", 1, ValueKind::u8),
      scalar("OrlaHighSpeedRadioM$state", 1, ValueKind::u8),
      scalar("OrlaHighSpeedRadioM$send_state", 1, ValueKind::u8),
      scalar("OrlaHighSpeedRadioM$tx_count", 1, ValueKind::u8),
      scalar("OrlaHighSpeedRadioM$calc_crc", 2, ValueKind::u16),
      scalar("OrlaHighSpeedRadioM$ack_count", 1, ValueKind::u8),
      scalar("OrlaHighSpeedRadioM$rec_count", 1, ValueKind::u8),
      scalar("OrlaHighSpeedRadioM$buffer", 112, ValueKind::bytes),
      scalar("OrlaHighSpeedRadioM$rec_ptr", 4, ValueKind::pointer),
      scalar("OrlaHighSpeedRadioM$send_ptr", 4, ValueKind::pointer),
      scalar("OrlaHighSpeedRadioM$rx_count", 1, ValueKind::u8),
      scalar("OrlaHighSpeedRadioM$msg_length", 1, ValueKind::u8),
      scalar("OrlaHighSpeedRadioM$buf_head", 1, ValueKind::u8),
      scalar("OrlaHighSpeedRadioM$buf_end", 1, ValueKind::u8),
      scalar("OrlaHighSpeedRadioM$encoded_buffer", 4, ValueKind::u32),
      scalar("OrlaHighSpeedRadioM$enc_count", 1, ValueKind::u8),
      scalar("SecDedEncoding$data1", 1, ValueKind::u8),
      scalar("SecDedEncoding$data2", 1, ValueKind::u8),
      scalar("SecDedEncoding$data3", 1, ValueKind::u8),
      scalar("SecDedEncoding$state", 1, ValueKind::u8),
      scalar("RandomLFSR$shiftReg", 2, ValueKind::u16),
      scalar("RandomLFSR$initSeed", 2, ValueKind::u16),
      scalar("RandomLFSR$mask", 2, ValueKind::u16),
      scalar("channelMonEvents", 4, ValueKind::pointer),
      scalar("ChannelMonC$CM_search", 4, ValueKind::u32),
      scalar("ChannelMonC$CM_state", 1, ValueKind::u8),
      scalar("ChannelMonC$CM_lastBit", 1, ValueKind::u8),
      scalar("ChannelMonC$CM_startSymBits", 1, ValueKind::u8),
      scalar("ChannelMonC$CM_waiting", 2, ValueKind::u16),
      scalar("radioTimingEvents", 4, ValueKind::pointer),
      scalar("SpiByteFifoC$nextByte", 1, ValueKind::u8),
      scalar("SpiByteFifoC$state", 1, ValueKind::u8),
      scalar("SpiByteFifoC$spdr", 1, ValueKind::u8),
      scalar("SpiByteFifoC$radioState", 1, ValueKind::u8),
      scalar("TimerM$mState", 4, ValueKind::u32),
      scalar("TimerM$setIntervalFlag", 1, ValueKind::u8),
      scalar("TimerM$mScale", 1, ValueKind::u8),
      scalar("TimerM$mInterval", 1, ValueKind::u8),
      scalar("TimerM$queue_head", 1, ValueKind::i8),
      scalar("TimerM$queue_tail", 1, ValueKind::i8),
      scalar("TimerM$queue_size", 1, ValueKind::u8),
      table("TimerM$queue", 1, NUM_TIMERS, timer_queue_fields),
      scalar("TimerM$interval_outstanding", 2, ValueKind::u16),
      table("TimerM$mTimerList", 12, NUM_TIMERS, timer_fields),
      scalar("HPLClock$set_flag", 1, ValueKind::u8),
      scalar("HPLClock$mscale", 1, ValueKind::u8),
      scalar("HPLClock$nextScale", 1, ValueKind::u8),
      scalar("HPLClock$minterval", 1, ValueKind::u8),
      scalar("LedsM$ledsOn", 1, ValueKind::u8),
      scalar("ADCM$ReqPort", 2, ValueKind::u16),
      scalar("ADCM$ReqVector", 2, ValueKind::u16),
      scalar("ADCM$ContReqMask", 2, ValueKind::u16),
      scalar("I2CM$state", 1, ValueKind::u8),
      scalar("I2CM$local_data", 1, ValueKind::u8),
      scalar("I2CPotM$data", 1, ValueKind::u8),
      scalar("I2CPotM$state", 1, ValueKind::u8),
      scalar("I2CPotM$addr", 1, ValueKind::u8),
      scalar("I2CPotM$pot", 1, ValueKind::u8),
      scalar("PhotoTempM$hardwareStatus", 4, ValueKind::u32),
      scalar("PhotoTempM$photoSensor", 4, ValueKind::u32),
      scalar("PhotoTempM$tempSensor", 4, ValueKind::u32),
      scalar("PhotoTempM$waitingForSample", 1, ValueKind::u8),
  }};
}();

// The position of a variable in the list; -1 for an unknown name.
constexpr int variable_index(std::string_view name) {
  for (std::size_t i = 0; i < variables.size(); ++i) {
    if (name == variables[i].name) return static_cast<int>(i);
  }
  return -1;
}

inline const VariableLayout* variable_layout(std::string_view name) {
  int i = variable_index(name);
  return i < 0 ? nullptr : &variables[static_cast<std::size_t>(i)];
}

// The layout of a variable named at compile time; an unknown name does not
// compile. (Indexes, not pointers: compilers with pointer checks built in
// refuse to compare pointers during constant evaluation.)
consteval const VariableLayout& layout_of(std::string_view name) {
  int i = variable_index(name);
  if (i < 0) throw "not an inspectable variable";
  return variables[static_cast<std::size_t>(i)];
}
consteval uint32_t variable_size(std::string_view name) { return layout_of(name).size(); }
}  // namespace protocol

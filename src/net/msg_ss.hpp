#pragma once
// The stream message: what the remote streams of two motes say to each other
// (open, write a record, close). It never travels as a packet of its own; it
// rides in the payload of a channel message. Its bytes are those of the
// record on a little-endian 32-bit machine, padding included; the host struct
// has the same layout, which the assertions below pin down.

#include <cstddef>
#include <cstdint>

#include "kernel/vex_types.hpp"
#include "protocol/records.hpp"  // split_time

// A virtual time travels in messages as a split_time: two 32-bit words, the
// high one first, each little-endian.

constexpr split_time to_split_time(vex_time_t t) {
  uint64_t u = static_cast<uint64_t>(t);
  return {static_cast<uint32_t>(u >> 32), static_cast<uint32_t>(u)};
}
constexpr vex_time_t from_split_time(split_time t) {
  return static_cast<vex_time_t>((static_cast<uint64_t>(t.high32) << 32) | t.low32);
}

// Kinds of stream message.
constexpr uint8_t OPEN_SS = 0;
constexpr uint8_t WRITE_SS = 1;
constexpr uint8_t CLOSE_SS = 2;

// Defined with the format; on the air type 9 belongs to the query engine.
constexpr uint8_t AM_SSMSG = 9;

constexpr int MSG_SS_DATA = 20;  // record bytes one WRITE_SS carries

struct MsgSS {
  uint8_t msg_type;
  uint8_t pad_1;
  uint16_t src;             // the source mote
  uint8_t symbolic_name;    // the stream's name
  uint8_t pad_5[3];
  uint32_t stream_rate;     // OPEN_SS only
  split_time start_time;    // OPEN_SS only
  uint8_t reliability;      // OPEN_SS only
  uint8_t data_size;        // WRITE_SS: valid bytes of data
  int8_t data[MSG_SS_DATA];  // WRITE_SS: the record, zero-filled behind data_size
  uint8_t pad_42[2];
};
using MsgSSPtr = MsgSS*;

static_assert(sizeof(MsgSS) == 44);
static_assert(offsetof(MsgSS, msg_type) == 0);
static_assert(offsetof(MsgSS, src) == 2);
static_assert(offsetof(MsgSS, symbolic_name) == 4);
static_assert(offsetof(MsgSS, stream_rate) == 8);
static_assert(offsetof(MsgSS, start_time) == 12);
static_assert(offsetof(MsgSS, start_time.high32) == 12);
static_assert(offsetof(MsgSS, start_time.low32) == 16);
static_assert(offsetof(MsgSS, reliability) == 20);
static_assert(offsetof(MsgSS, data_size) == 21);
static_assert(offsetof(MsgSS, data) == 22);
static_assert(__BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__, "records are little-endian on the wire");

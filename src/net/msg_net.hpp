#pragma once
// The channel message: one packet of the channel layer (open a channel,
// carry a stream message over it, close it), sent as active-message type
// AM_NETMSG with 84 payload bytes. Its bytes are those of the record on a
// little-endian 32-bit machine, padding included; the host struct has the
// same layout, which the assertions below pin down.
//
// The record sits at offset 5 of a packet's data, which is not aligned for
// it, so it is always copied in and out (to_packet, from_packet), never
// reached through a cast pointer.

#include <cstddef>
#include <cstdint>
#include <cstring>

#include "net/msg_ss.hpp"
#include "net/vex_msg.hpp"

using channel_type = int32_t;

// Kinds of channel message.
constexpr uint8_t OPEN = 0;
constexpr uint8_t WRITE = 1;
constexpr uint8_t CLOSE = 2;

// Defined with the format; nothing uses them.
constexpr uint8_t SET_STREAM_RATE = 0;
constexpr uint8_t SET_START_TIME = 1;
constexpr uint8_t SET_DATA_SIZE = 2;

constexpr int MSG_NET_PAYLOAD = 56;
constexpr uint8_t MSG_NET_LENGTH = 84;  // packet length of every channel message

struct MsgNetPayload_type {
  int8_t data[MSG_NET_PAYLOAD];  // a MsgSS, then 12 bytes of zeros
};

struct MsgNet {
  uint8_t msg_type;
  uint8_t pad_1;
  uint16_t src;             // the sending mote
  uint16_t dest;            // the destination mote
  uint8_t pad_6[2];
  channel_type channel_id;  // source address * 256 + the source's table entry
  uint32_t stream_rate;     // OPEN only
  split_time start_time;    // OPEN only
  uint8_t data_size;        // OPEN only: the size the stream system gave
  MsgNetPayload_type payload;
  uint8_t pad_81[3];
};

static_assert(sizeof(MsgNet) == MSG_NET_LENGTH);
static_assert(offsetof(MsgNet, msg_type) == 0);
static_assert(offsetof(MsgNet, src) == 2);
static_assert(offsetof(MsgNet, dest) == 4);
static_assert(offsetof(MsgNet, channel_id) == 8);
static_assert(offsetof(MsgNet, stream_rate) == 12);
static_assert(offsetof(MsgNet, start_time) == 16);
static_assert(offsetof(MsgNet, start_time.high32) == 16);
static_assert(offsetof(MsgNet, start_time.low32) == 20);
static_assert(offsetof(MsgNet, data_size) == 24);
static_assert(offsetof(MsgNet, payload) == 25);
static_assert(sizeof(MsgSS) <= sizeof(MsgNetPayload_type));
static_assert(sizeof(MsgNet) <= sizeof(VEX_Msg::data));

inline void to_packet(const MsgNet& m, VEX_Msg& packet) { std::memcpy(packet.data, &m, sizeof m); }
inline MsgNet from_packet(const VEX_Msg& packet) {
  MsgNet m;
  std::memcpy(&m, packet.data, sizeof m);
  return m;
}

// The stream message a channel message carries.
inline void put_payload(MsgNet& m, const MsgSS& ss) {
  std::memset(m.payload.data, 0, sizeof m.payload.data);
  std::memcpy(m.payload.data, &ss, sizeof ss);
}
inline MsgSS payload_of(const MsgNet& m) {
  MsgSS ss;
  std::memcpy(&ss, m.payload.data, sizeof ss);
  return ss;
}

#pragma once
// The channel layer: point-to-point channels between two motes over the
// active-message layer, for the stream system.
//
// A source mote opens a channel towards a destination (connect), sends
// stream messages over it (send) and closes it (disconnect). Each travels as
// one channel message of type AM_NETMSG carrying the 44-byte stream message.
// The destination learns of a channel from its OPEN and hands every accepted
// OPEN, WRITE and CLOSE up to the stream system (receive).
//
// Guarantees: one channel message is outstanding per mote at a time, so
// connect, send and disconnect fail until the previous one has completed;
// the stream message is copied before the call returns. The only feedback
// is connectDone, the local completion of the OPEN: it says the packet left
// the mote, not that the destination took it. Nothing is acknowledged or
// sent again. A channel is one hop: the destination must hear the source.

#include <array>
#include <cstdint>

#include "kernel/vex_types.hpp"
#include "net/msg_net.hpp"
#include "net/msg_ss.hpp"
#include "net/vex_msg.hpp"

namespace NetToSSM {
using protocol::CHANNELS;  // channel-table entries per mote

struct table_elem {
  channel_type channel_id;
  uint16_t dest;     // at the source the remote mote, at the destination the mote itself
  uint8_t validity;  // 1: in use
};

// Per-mote variables, zeroed when the mote boots; init gives them their values.
struct Vars {
  std::array<table_elem, CHANNELS> channel_table;
  VEX_Msg connect_buffer;     // the outstanding OPEN
  VEX_Msg send_buffer;        // the outstanding WRITE
  VEX_Msg disconnect_buffer;  // the outstanding CLOSE
  VEX_Msg global_buffer;      // handed back to the layer below after a reception
  VEX_MsgPtr pbuffer;         // points at global_buffer
  bool send_pending;          // a channel message is being sent
};
Vars& vars();  // the running mote's variables
Vars& vars_of(int mote);

// The stream system, installed by the application wiring.
struct User {
  result_t (*connectDone)(channel_type channel_id, MsgSSPtr msg, result_t success) = nullptr;
  MsgSSPtr (*receive)(channel_type channel_id, MsgSSPtr m) = nullptr;
};
void set_user(const User& user);

// Opens a channel to `dest` with an OPEN carrying `msg`; connectDone follows.
result_t NetToSS_connect(uint32_t stream_rate, vex_time_t start_time, uint8_t pktSS_size,
                         uint16_t dest, const MsgSS* msg);
// Sends `msg` in a WRITE over an open channel.
result_t NetToSS_send(channel_type channel_id, const MsgSS* msg);
// Closes a channel and sends `msg` in a CLOSE. The channel is gone locally
// even when the CLOSE cannot be sent.
result_t NetToSS_disconnect(channel_type channel_id, const MsgSS* msg);

// The active-message layer's completion and reception for AM_NETMSG.
result_t SendMsg_sendDone(VEX_MsgPtr msg, result_t success);
VEX_MsgPtr ReceiveMsg_receive(VEX_MsgPtr msg);

// The channel table of the running mote, in index order.
int entryGet();  // first free entry, -1 when all are in use
result_t channelInsert(int entry, uint16_t dest, channel_type channel_id);
result_t destGet(channel_type channel_id, uint16_t* dest);
result_t nexthopGet(channel_type channel_id, uint16_t* dest);
result_t channelRemove(channel_type channel_id);

result_t StdControl_init();
result_t StdControl_start();
result_t StdControl_stop();
}  // namespace NetToSSM

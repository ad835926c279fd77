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
// Guarantees: the active-message layer takes one packet at a time, so a
// channel message that finds it busy waits in a bounded per-mote queue and
// leaves, in the order accepted, when the one before it has completed (or,
// when another layer holds the radio, at a retry shortly after). Opens and
// closes always find room: writes stop being queued while fewer than two
// places per channel are free. A closed channel keeps its entry until its
// CLOSE has been handed on, so its id cannot be reused before then. The
// stream message is copied before the call returns. The only feedback is
// connectDone, the local completion of the OPEN, signalled exactly once per
// accepted connect: it says the packet left the mote, not that the
// destination took it. Nothing is acknowledged or sent again. A channel is
// one hop: the destination must hear the source.

#include <array>
#include <cstdint>

#include "kernel/bounded_queue.hpp"
#include "kernel/vex_types.hpp"
#include "net/msg_net.hpp"
#include "net/msg_ss.hpp"
#include "net/vex_msg.hpp"

namespace NetToSSM {
using protocol::CHANNELS;  // channel-table entries per mote

// Channel messages that can wait for the radio at once. Each channel entry
// has at most one OPEN and one CLOSE waiting; writes take the rest.
constexpr uint8_t CHANNEL_QUEUE_LENGTH = 3 * CHANNELS;
constexpr uint8_t PLACES_KEPT_FOR_OPEN_AND_CLOSE = 2 * CHANNELS;

// Values of table_elem::validity.
constexpr uint8_t CHANNEL_FREE = 0;
constexpr uint8_t CHANNEL_IN_USE = 1;
constexpr uint8_t CHANNEL_CLOSING = 2;  // closed, its CLOSE still waiting to leave

struct table_elem {
  channel_type channel_id;
  uint16_t dest;     // at the source the remote mote, at the destination the mote itself
  uint8_t validity;  // CHANNEL_FREE, CHANNEL_IN_USE or CHANNEL_CLOSING
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
  BoundedQueue<MsgNet, CHANNEL_QUEUE_LENGTH> waiting;  // accepted, not yet handed on
  bool retry_armed;           // a retry of the oldest waiting message is scheduled
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
// The new channel's id goes to `channel_id` when given.
result_t NetToSS_connect(uint32_t stream_rate, vex_time_t start_time, uint8_t pktSS_size,
                         uint16_t dest, const MsgSS* msg, channel_type* channel_id = nullptr);
// Sends `msg` in a WRITE over an open channel.
result_t NetToSS_send(channel_type channel_id, const MsgSS* msg);
// Closes a channel and sends `msg` in a CLOSE: the channel can no longer be
// written, and its entry is freed once the CLOSE leaves.
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

// Hands the oldest waiting channel message to the active-message layer when
// nothing of ours is in flight; schedules a retry when the layer is busy.
void send_next();

result_t StdControl_init();
result_t StdControl_start();
result_t StdControl_stop();
}  // namespace NetToSSM

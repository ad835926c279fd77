#include "net/net_to_ssm.hpp"

#include "kernel/atomic.hpp"
#include "kernel/per_mote.hpp"
#include "kernel/vex_state.hpp"
#include "net/am_promiscuous.hpp"

namespace NetToSSM {
namespace {
PerMote<Vars> net;
User user;

uint16_t own_address() {
  uint8_t atomic = __quil_atomic_start();
  uint16_t address = VEX_LOCAL_ADDRESS;
  __quil_atomic_end(atomic);
  return address;
}

// A WRITE or CLOSE: only the header and the stream message.
MsgNet plain_message(uint8_t msg_type, uint16_t dest, channel_type channel_id, const MsgSS& ss) {
  MsgNet m{};
  m.msg_type = msg_type;
  m.src = own_address();
  m.dest = dest;
  m.channel_id = channel_id;
  put_payload(m, ss);
  return m;
}

// The table holds this channel with this mote as its destination.
bool ours(channel_type channel_id) {
  uint16_t dest = 0;
  return destGet(channel_id, &dest) == SUCCESS && dest == VEX_LOCAL_ADDRESS;
}

bool accepted(const MsgNet& m) {
  switch (m.msg_type) {
    case OPEN: {
      if (m.dest != VEX_LOCAL_ADDRESS) return false;
      int entry = entryGet();
      return entry >= 0 && channelInsert(entry, m.dest, m.channel_id) == SUCCESS;
    }
    case WRITE: return m.dest == VEX_LOCAL_ADDRESS && ours(m.channel_id);
    case CLOSE:
      return m.dest == VEX_LOCAL_ADDRESS && ours(m.channel_id) &&
             channelRemove(m.channel_id) == SUCCESS;
    default: return true;
  }
}
}  // namespace

Vars& vars() { return net(); }
Vars& vars_of(int mote) { return net.of(mote); }

void set_user(const User& u) { user = u; }

int entryGet() {
  const Vars& v = vars();
  for (int i = 0; i < CHANNELS; ++i) {
    if (v.channel_table[i].validity == 0) return i;
  }
  return -1;
}

result_t channelInsert(int entry, uint16_t dest, channel_type channel_id) {
  if (entry < 0 || entry >= CHANNELS) return FAIL;
  table_elem& e = vars().channel_table[entry];
  if (e.validity != 0) return FAIL;
  e = {channel_id, dest, 1};
  return SUCCESS;
}

result_t destGet(channel_type channel_id, uint16_t* dest) {
  for (const table_elem& e : vars().channel_table) {
    if (e.validity != 0 && e.channel_id == channel_id) {
      *dest = e.dest;
      return SUCCESS;
    }
  }
  return FAIL;
}

// Channels are one hop, so the next hop is the destination itself.
result_t nexthopGet(channel_type channel_id, uint16_t* dest) { return destGet(channel_id, dest); }

result_t channelRemove(channel_type channel_id) {
  for (table_elem& e : vars().channel_table) {
    if (e.validity != 0 && e.channel_id == channel_id) {
      e.validity = 0;
      return SUCCESS;
    }
  }
  return FAIL;
}

result_t NetToSS_connect(uint32_t stream_rate, vex_time_t start_time, uint8_t pktSS_size,
                         uint16_t dest, const MsgSS* msg) {
  Vars& v = vars();
  if (v.send_pending) return FAIL;
  int entry = entryGet();
  if (entry < 0) return FAIL;
  channel_type channel_id = VEX_LOCAL_ADDRESS * 256 + entry;
  if (channelInsert(entry, dest, channel_id) == FAIL) return FAIL;

  v.send_pending = true;
  MsgNet m = plain_message(OPEN, dest, channel_id, *msg);
  m.stream_rate = stream_rate;
  m.start_time = to_split_time(start_time);
  m.data_size = pktSS_size;
  to_packet(m, v.connect_buffer);
  if (AMPromiscuous::SendMsg_send(AM_NETMSG, dest, MSG_NET_LENGTH, &v.connect_buffer) == FAIL) {
    channelRemove(channel_id);
    v.send_pending = false;
    return FAIL;
  }
  return SUCCESS;
}

result_t NetToSS_send(channel_type channel_id, const MsgSS* msg) {
  Vars& v = vars();
  if (v.send_pending) return FAIL;
  uint16_t dest = 0;
  if (nexthopGet(channel_id, &dest) == FAIL) return FAIL;

  v.send_pending = true;
  to_packet(plain_message(WRITE, dest, channel_id, *msg), v.send_buffer);
  if (AMPromiscuous::SendMsg_send(AM_NETMSG, dest, MSG_NET_LENGTH, &v.send_buffer) == FAIL) {
    v.send_pending = false;
    return FAIL;
  }
  return SUCCESS;
}

result_t NetToSS_disconnect(channel_type channel_id, const MsgSS* msg) {
  Vars& v = vars();
  if (v.send_pending) return FAIL;
  uint16_t dest = 0;
  if (nexthopGet(channel_id, &dest) == FAIL) return FAIL;
  channelRemove(channel_id);

  v.send_pending = true;
  to_packet(plain_message(CLOSE, dest, channel_id, *msg), v.disconnect_buffer);
  if (AMPromiscuous::SendMsg_send(AM_NETMSG, dest, MSG_NET_LENGTH, &v.disconnect_buffer) ==
      FAIL) {
    v.send_pending = false;
    return FAIL;
  }
  return SUCCESS;
}

result_t SendMsg_sendDone(VEX_MsgPtr msg, result_t success) {
  vars().send_pending = false;
  MsgNet m = from_packet(*msg);
  if (m.msg_type != OPEN) return SUCCESS;
  if (success == FAIL) channelRemove(m.channel_id);
  MsgSS ss = payload_of(m);
  if (user.connectDone != nullptr) user.connectDone(m.channel_id, &ss, success);
  return SUCCESS;
}

VEX_MsgPtr ReceiveMsg_receive(VEX_MsgPtr msg) {
  // Copied out first: the record is not aligned inside the packet, and the
  // packet may be reused once this returns.
  MsgNet m = from_packet(*msg);
  if (accepted(m) && user.receive != nullptr) {
    MsgSS ss = payload_of(m);
    user.receive(m.channel_id, &ss);
  }
  return vars().pbuffer;
}

result_t StdControl_init() {
  Vars& v = vars();
  for (table_elem& e : v.channel_table) e.validity = 0;
  v.pbuffer = &v.global_buffer;
  v.send_pending = false;
  return AMPromiscuous::Control_init();
}

result_t StdControl_start() {
  // Every channel packet of the group must reach this layer, which picks
  // the mote's own by their destination.
  AMPromiscuous::CommControl_setCRCCheck(true);
  AMPromiscuous::CommControl_setPromiscuous(true);
  return AMPromiscuous::Control_start();
}

result_t StdControl_stop() { return AMPromiscuous::Control_stop(); }
}  // namespace NetToSSM

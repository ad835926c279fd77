#include "net/net_to_ssm.hpp"

#include <array>

#include "kernel/atomic.hpp"
#include "kernel/dbg.hpp"
#include "kernel/event.hpp"
#include "kernel/per_mote.hpp"
#include "kernel/schedule.hpp"
#include "kernel/vex_state.hpp"
#include "kernel/world.hpp"
#include "net/am_promiscuous.hpp"

namespace NetToSSM {
namespace {
PerMote<Vars> net;
User user;

// Ticks between tries while another layer holds the active-message layer:
// a small part of one radio packet.
constexpr vex_time_t SEND_RETRY_DELAY = 4000;

// Bumped at every init of a mote, so that a retry scheduled in a previous
// life of the mote does nothing. Survives the reset of component variables.
std::array<uint32_t, VEXNODES> retry_generation{};
const WorldReset clear_retry_generations{[] { restore_table(retry_generation); }};

struct SendRetryEvent final : event_t {
  uint32_t generation = 0;
  void handle(EventPtr, VEX_state_t&) override {
    if (generation != retry_generation[mote]) return;
    vars().retry_armed = false;
    send_next();
  }
};

void arm_retry() {
  Vars& v = vars();
  if (v.retry_armed) return;
  v.retry_armed = true;
  const int mote = vex_state.current_node.load();
  auto retry = sim::make_event<SendRetryEvent>(mote, sim::now() + SEND_RETRY_DELAY);
  retry->generation = retry_generation[mote];
  sim::schedule(std::move(retry));
}

// The packet record each kind of channel message is sent from.
VEX_Msg& buffer_for(Vars& v, uint8_t msg_type) {
  switch (msg_type) {
    case OPEN: return v.connect_buffer;
    case CLOSE: return v.disconnect_buffer;
    default: return v.send_buffer;
  }
}

// Queues a channel message and sends it if the way is free. Writes leave
// room for the opens and closes of every channel.
result_t submit(const MsgNet& m) {
  Vars& v = vars();
  const bool room = m.msg_type == WRITE
                        ? v.waiting.size() < CHANNEL_QUEUE_LENGTH - PLACES_KEPT_FOR_OPEN_AND_CLOSE
                        : !v.waiting.full();
  if (!room || !v.waiting.push(m)) return FAIL;
  send_next();
  return SUCCESS;
}

// The entry of a channel in the given state, or null.
table_elem* entry_of(channel_type channel_id, uint8_t validity) {
  for (table_elem& e : vars().channel_table) {
    if (e.validity == validity && e.channel_id == channel_id) return &e;
  }
  return nullptr;
}

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
      // A repeated OPEN of a channel already held keeps its entry.
      if (ours(m.channel_id)) return true;
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
    if (v.channel_table[i].validity == CHANNEL_FREE) return i;
  }
  return -1;
}

result_t channelInsert(int entry, uint16_t dest, channel_type channel_id) {
  if (entry < 0 || entry >= CHANNELS) return FAIL;
  table_elem& e = vars().channel_table[entry];
  if (e.validity != CHANNEL_FREE) return FAIL;
  e = {channel_id, dest, CHANNEL_IN_USE};
  return SUCCESS;
}

result_t destGet(channel_type channel_id, uint16_t* dest) {
  const table_elem* e = entry_of(channel_id, CHANNEL_IN_USE);
  if (e == nullptr) return FAIL;
  *dest = e->dest;
  return SUCCESS;
}

// Channels are one hop, so the next hop is the destination itself.
result_t nexthopGet(channel_type channel_id, uint16_t* dest) { return destGet(channel_id, dest); }

result_t channelRemove(channel_type channel_id) {
  table_elem* e = entry_of(channel_id, CHANNEL_IN_USE);
  if (e == nullptr) return FAIL;
  e->validity = CHANNEL_FREE;
  return SUCCESS;
}

result_t NetToSS_connect(uint32_t stream_rate, vex_time_t start_time, uint8_t pktSS_size,
                         uint16_t dest, const MsgSS* msg, channel_type* channel_id_out) {
  int entry = entryGet();
  if (entry < 0) return FAIL;
  channel_type channel_id = VEX_LOCAL_ADDRESS * 256 + entry;
  if (channelInsert(entry, dest, channel_id) == FAIL) return FAIL;

  MsgNet m = plain_message(OPEN, dest, channel_id, *msg);
  m.stream_rate = stream_rate;
  m.start_time = to_split_time(start_time);
  m.data_size = pktSS_size;
  if (submit(m) == FAIL) {
    channelRemove(channel_id);
    return FAIL;
  }
  if (channel_id_out != nullptr) *channel_id_out = channel_id;
  return SUCCESS;
}

result_t NetToSS_send(channel_type channel_id, const MsgSS* msg) {
  uint16_t dest = 0;
  if (nexthopGet(channel_id, &dest) == FAIL) return FAIL;
  return submit(plain_message(WRITE, dest, channel_id, *msg));
}

result_t NetToSS_disconnect(channel_type channel_id, const MsgSS* msg) {
  table_elem* e = entry_of(channel_id, CHANNEL_IN_USE);
  if (e == nullptr) return FAIL;
  // No more writes; the entry stays taken until the CLOSE leaves.
  e->validity = CHANNEL_CLOSING;
  if (submit(plain_message(CLOSE, e->dest, channel_id, *msg)) == FAIL) {
    e->validity = CHANNEL_IN_USE;
    return FAIL;
  }
  return SUCCESS;
}

void send_next() {
  Vars& v = vars();
  if (v.send_pending || v.waiting.empty()) return;
  const MsgNet& m = v.waiting.front();
  VEX_Msg& packet = buffer_for(v, m.msg_type);
  to_packet(m, packet);
  if (AMPromiscuous::SendMsg_send(AM_NETMSG, m.dest, MSG_NET_LENGTH, &packet) == FAIL) {
    arm_retry();  // another layer's packet holds the way; no completion of ours will come
    return;
  }
  v.send_pending = true;
  if (m.msg_type == CLOSE) {
    table_elem* closed = entry_of(m.channel_id, CHANNEL_CLOSING);
    if (closed != nullptr) closed->validity = CHANNEL_FREE;
  }
  v.waiting.pop();
}

result_t SendMsg_sendDone(VEX_MsgPtr msg, result_t success) {
  vars().send_pending = false;
  MsgNet m = from_packet(*msg);
  if (m.msg_type == OPEN) {
    if (success == FAIL) channelRemove(m.channel_id);
    MsgSS ss = payload_of(m);
    if (user.connectDone != nullptr) user.connectDone(m.channel_id, &ss, success);
  }
  send_next();
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
  for (table_elem& e : v.channel_table) e.validity = CHANNEL_FREE;
  v.pbuffer = &v.global_buffer;
  v.send_pending = false;
  v.waiting = {};
  v.retry_armed = false;
  ++retry_generation[vex_state.current_node.load()];
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

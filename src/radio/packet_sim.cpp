#include "radio/packet_sim.hpp"

#include <cstdlib>
#include <cstring>
#include <utility>

#include "kernel/dbg.hpp"
#include "kernel/schedule.hpp"
#include "kernel/vex_state.hpp"
#include "kernel/world.hpp"

int byteTransmitTime = 1664;
int preambleLength = 20;
int headerLength = 7;
int backoffLow = 8320;
int backoffHigh = 16640;
int txChangeLatency = 24960;

std::array<VEX_MsgPtr, VEXNODES> packet_transmitting{};
std::array<PacketCopy*, VEXNODES> incoming{};
std::array<std::vector<int32_t>, VEXNODES> packet_connectivity;

namespace {
PacketSim::UpperHandlers upper;

// The record each mote receives into; the layer above hands back the one
// to use next, as with the bit-level radio, so it may keep what it got.
std::array<VEX_Msg, VEXNODES> receive_buffer{};
std::array<VEX_MsgPtr, VEXNODES> receive_ptr{};

// Packets in flight went with the queue's events; forget what pointed at them.
const WorldReset clear_packet_sim{[] {
  restore_table(packet_transmitting);
  restore_table(incoming);
  for (auto& links : packet_connectivity) {
    if (!links.empty()) links.clear();
  }
  restore_table(receive_buffer);
  restore_table(receive_ptr);
}};

constexpr int corrupted_bytes = 103;  // header, data and the first crc byte

vex_time_t random_backoff() {
  return backoffLow + std::rand() % (backoffHigh - backoffLow);
}

void unlink(int mote, PacketCopy* copy) {
  for (PacketCopy** link = &incoming[mote]; *link != nullptr; link = &(*link)->next) {
    if (*link == copy) {
      *link = copy->next;
      copy->next = nullptr;
      return;
    }
  }
}

// The sender's events: backoff, then start-transmit, then send-done, one
// record re-armed from stage to stage.
struct SenderEvent final : event_t {
  enum class Stage : uint8_t { backoff, start_transmit, send_done } stage;

  explicit SenderEvent(Stage s) : stage(s) {}
  void handle(EventPtr self, VEX_state_t& state) override;

  void backoff(EventPtr self, VEX_state_t& state);
  void start_transmit(EventPtr self, VEX_state_t& state);
  void send_done(EventPtr self, VEX_state_t& state);
};

struct ReceiveEvent final : event_t {
  std::unique_ptr<PacketCopy> copy;

  explicit ReceiveEvent(std::unique_ptr<PacketCopy> c) : copy(std::move(c)) {}
  ~ReceiveEvent() override {
    if (copy) unlink(mote, copy.get());
  }
  void handle(EventPtr self, VEX_state_t&) override {
    unlink(mote, copy.get());
    dbg(DBG_PACKET, "SIM_PACKET: Receiving\n");
    packet_sim_receive_msg(copy->msg);
    event_cleanup(std::move(self));
  }
};

void SenderEvent::handle(EventPtr self, VEX_state_t& state) {
  switch (stage) {
    case Stage::backoff: return backoff(std::move(self), state);
    case Stage::start_transmit: return start_transmit(std::move(self), state);
    case Stage::send_done: return send_done(std::move(self), state);
  }
}

void SenderEvent::backoff(EventPtr self, VEX_state_t&) {
  if (incoming[mote] != nullptr) {
    vex_time_t delay = random_backoff();
    time = sim::now() + delay;
    dbg(DBG_PACKET, "SIM_PACKET: Backoff more: %i.\n", static_cast<int>(delay));
  } else {
    stage = Stage::start_transmit;
    time = sim::now() + txChangeLatency;
  }
  sim::schedule(std::move(self));
}

void SenderEvent::start_transmit(EventPtr self, VEX_state_t& state) {
  VEX_MsgPtr packet = packet_transmitting[mote];
  if (packet == nullptr) {  // nothing to send: the send was withdrawn
    event_cleanup(std::move(self));
    return;
  }
  vex_time_t air_time = packet_air_time(packet->length);
  dbg(DBG_PACKET, "SIM_PACKET: Transmitting, transmit time is %i.\n", static_cast<int>(air_time));
  for (int32_t receiver : packet_connectivity[mote]) {
    if (receiver < 0 || receiver >= state.num_nodes || !state.moteOn[receiver]) continue;
    if (packet_transmitting[receiver] != nullptr) {
      dbg(DBG_PACKET, "SIM_PACKET: Mote %i would send to mote %i, but it is transmitting.\n", mote,
          receiver);
      continue;
    }
    auto copy = std::make_unique<PacketCopy>();
    copy->msg = *packet;
    dbg(DBG_PACKET, "SIM_PACKET: Mote %i sending to mote %i\n", mote, receiver);
    if (incoming[receiver] != nullptr) {
      corruptPacket(copy->msg);
      dbg(DBG_PACKET, "SIM_PACKET: Corrupting message from %i to %i\n", mote, receiver);
      for (PacketCopy* other = incoming[receiver]; other != nullptr; other = other->next) {
        corruptPacket(other->msg);
        dbg(DBG_PACKET, "SIM_PACKET: Corrupting message from %i to %i\n", mote, receiver);
      }
    }
    copy->next = incoming[receiver];
    incoming[receiver] = copy.get();
    sim::schedule(event_receive_packet_create(receiver, sim::now() + air_time, std::move(copy)));
  }
  dbg(DBG_PACKET, "SIM_PACKET: Enqueueing send done.\n");
  stage = Stage::send_done;
  time = sim::now() + air_time;
  sim::schedule(std::move(self));
}

void SenderEvent::send_done(EventPtr self, VEX_state_t&) {
  if (dbg_active(DBG_PACKET)) {
    char text[128];
    printTime(text, sizeof text);
    dbg(DBG_PACKET, "SIM_PACKET: Send done @%s\n", text);
  }
  VEX_MsgPtr packet = packet_transmitting[mote];
  packet_transmitting[mote] = nullptr;
  packet_sim_transmit_done(packet);
  event_cleanup(std::move(self));
}
}  // namespace

void packet_sim_init() {
  for (int m = 0; m < VEXNODES; ++m) {
    packet_transmitting[m] = nullptr;
    incoming[m] = nullptr;
    packet_connectivity[m].clear();
    receive_ptr[m] = &receive_buffer[m];
  }
  packet_connectivity[0].push_back(1);
  packet_connectivity[2].push_back(1);
}

vex_time_t packet_air_time(uint8_t length) {
  return static_cast<vex_time_t>(length + preambleLength + headerLength) * byteTransmitTime;
}

EventPtr event_backoff_create(int mote, vex_time_t time) {
  return sim::make_event<SenderEvent>(mote, time, SenderEvent::Stage::backoff);
}
EventPtr event_start_transmit_create(int mote, vex_time_t time) {
  return sim::make_event<SenderEvent>(mote, time, SenderEvent::Stage::start_transmit);
}
EventPtr event_receive_packet_create(int mote, vex_time_t time, std::unique_ptr<PacketCopy> copy) {
  return sim::make_event<ReceiveEvent>(mote, time, std::move(copy));
}
EventPtr event_send_packet_done_create(int mote, vex_time_t time) {
  return sim::make_event<SenderEvent>(mote, time, SenderEvent::Stage::send_done);
}

void corruptPacket(VEX_Msg& msg) {
  auto* bytes = reinterpret_cast<uint8_t*>(&msg);
  for (int i = 0; i < corrupted_bytes; ++i) bytes[i] = static_cast<uint8_t>(std::rand());
}

void packet_sim_transmit_done(VEX_MsgPtr msg) {
  dbg(DBG_PACKET, "VarnixPacketOrla2M: Send done.\n");
  if (upper.send_done != nullptr && msg != nullptr) upper.send_done(msg, SUCCESS);
}

void packet_sim_receive_msg(const VEX_Msg& msg) {
  int mote = vex_state.current_node;
  if (upper.receive == nullptr) return;
  if (receive_ptr[mote] == nullptr) receive_ptr[mote] = &receive_buffer[mote];
  *receive_ptr[mote] = msg;
  VEX_MsgPtr next = upper.receive(receive_ptr[mote]);
  receive_ptr[mote] = next != nullptr ? next : &receive_buffer[mote];
}

namespace PacketSim {
void set_upper_handlers(const UpperHandlers& handlers) { upper = handlers; }

result_t send(VEX_MsgPtr msg) {
  int mote = vex_state.current_node;
  if (msg == nullptr || packet_transmitting[mote] != nullptr) return FAIL;
  packet_transmitting[mote] = msg;
  sim::schedule(event_backoff_create(mote, sim::now() + random_backoff()));
  return SUCCESS;
}
}  // namespace PacketSim

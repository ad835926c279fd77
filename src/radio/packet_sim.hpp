#pragma once
// The packet-level radio model: whole VEX_Msg records move between motes with
// a fixed air time, a random backoff while packets are arriving, and a
// collision rule (packets that overlap at a receiver all arrive corrupted).
// The bit-level stack is the radio the motes use; this model is set up at
// start-up and can be connected as an alternative through send() and the
// upper handlers, which is what its tests do.
//
// Ownership: a packet copy in flight belongs to its receive event. The
// copy is also linked into its receiver's `incoming` list until the event
// runs; an event dropped unrun (its mote switched off, the queue cleared)
// unlinks its copy as it goes, so the list never holds a freed copy.

#include <array>
#include <cstdint>
#include <memory>
#include <vector>

#include "kernel/event.hpp"
#include "kernel/vex_types.hpp"
#include "net/vex_msg.hpp"

// Timing, in ticks of 1/4,000,000 s.
extern int byteTransmitTime;  // air time of one byte
extern int preambleLength;    // preamble bytes added to every packet
extern int headerLength;      // header bytes added to every packet
extern int backoffLow;        // shortest extra backoff
extern int backoffHigh;       // bound of the backoff range
extern int txChangeLatency;   // from a clear channel to the start of transmission

// A packet copy on its way to one receiver.
struct PacketCopy {
  VEX_Msg msg{};
  PacketCopy* next = nullptr;
};

extern std::array<VEX_MsgPtr, VEXNODES> packet_transmitting;  // the mote's packet, or null
extern std::array<PacketCopy*, VEXNODES> incoming;           // copies arriving, newest first
extern std::array<std::vector<int32_t>, VEXNODES> packet_connectivity;  // receivers each sender reaches

// Clears every table, then links motes 0 and 2 to mote 1.
void packet_sim_init();

// Air time of a packet whose length byte is `length`.
vex_time_t packet_air_time(uint8_t length);

EventPtr event_backoff_create(int mote, vex_time_t time);
EventPtr event_start_transmit_create(int mote, vex_time_t time);
EventPtr event_receive_packet_create(int mote, vex_time_t time, std::unique_ptr<PacketCopy> copy);
EventPtr event_send_packet_done_create(int mote, vex_time_t time);

// Overwrites the header, data and first crc byte (103 bytes) with rand() bytes.
void corruptPacket(VEX_Msg& msg);

void packet_sim_transmit_done(VEX_MsgPtr msg);
void packet_sim_receive_msg(const VEX_Msg& msg);

namespace PacketSim {
// Where deliveries and send completions go once the model is connected; by
// default a received packet is dropped and a completion goes nowhere.
struct UpperHandlers {
  VEX_MsgPtr (*receive)(VEX_MsgPtr msg) = nullptr;
  result_t (*send_done)(VEX_MsgPtr msg, result_t success) = nullptr;
};
void set_upper_handlers(const UpperHandlers& handlers);

// Starts a send from the running mote: the packet becomes the mote's
// `packet_transmitting` at once and a backoff event follows after a random
// backoff. FAIL while the mote still has a packet in flight.
result_t send(VEX_MsgPtr msg);
}  // namespace PacketSim

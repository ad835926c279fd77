#pragma once
// The active-message layer: the one packet interface of every mote.
//
// Sending: a user hands over a packet record with a message type and a
// destination; the layer fills the header, sends it on the serial port when
// the destination is VEX_UART_ADDR and on the radio otherwise, and reports
// completion to the user bound to the packet's type. One send may be
// outstanding per mote, whatever its type; a second send fails until the
// first has completed. Completion always comes after send has returned.
//
// Receiving: packets from the radio (through CrcFilter, or handed in by the
// simulator) and from the serial port are counted, filtered (group, address
// unless promiscuous, CRC when checking) and dispatched by type. Reception
// swaps buffers: the record a handler returns goes back to the layer below.
//
// The users live in higher layers, so they are reached through the handler
// tables below, which the application wiring fills in.

#include <cstdint>

#include "kernel/vex_types.hpp"
#include "net/vex_msg.hpp"

namespace AMPromiscuous {
// Per-mote variables, zeroed when the mote boots; init gives them their values.
struct Vars {
  bool state;             // a send is outstanding
  VEX_MsgPtr buffer;      // the packet being sent (owned by its sender)
  uint16_t counter;       // packets that reached the filter this activity period
  uint16_t lastCount;     // counter at the end of the last period
  bool promiscuous_mode;  // accept packets addressed to any mote
  bool crc_check;         // accept only packets whose crc is 1
};

constexpr uint32_t ACTIVITY_PERIOD = 1000;  // timer counts

// Control.
result_t Control_init();
result_t Control_start();
result_t Control_stop();
result_t CommControl_setCRCCheck(bool value);
result_t CommControl_setPromiscuous(bool value);

// Sends `data` as a packet of type `id` to `addr` with `length` payload bytes.
result_t SendMsg_send(uint8_t id, uint16_t addr, uint8_t length, VEX_MsgPtr data);

// Completions from below: the serial packet layer and the radio stack.
result_t UARTSend_sendDone(VEX_MsgPtr msg, result_t success);
result_t RadioSend_sendDone(VEX_MsgPtr msg, result_t success);

// Receptions from below. Each returns the record for the next reception.
VEX_MsgPtr RadioReceive_receive(VEX_MsgPtr msg);
VEX_MsgPtr UARTReceive_receive(VEX_MsgPtr msg);

// The expiry of the activity timer: closes the current counting period.
result_t ActivityTimer_fired();

// Users of each message type, installed by the wiring. A type without a
// receive handler gets its packet back unchanged; a type without a sendDone
// handler is answered with SUCCESS. nullptr removes a handler.
using ReceiveHandler = VEX_MsgPtr (*)(VEX_MsgPtr msg);
using SendDoneHandler = result_t (*)(VEX_MsgPtr msg, result_t success);
void set_receive_handler(uint8_t type, ReceiveHandler handler);
void set_send_done_handler(uint8_t type, SendDoneHandler handler);

// Prints the whole record, byte by byte, under DBG_AM.
void print_packet(const VEX_Msg& msg);

Vars& vars();  // the running mote's variables
Vars& vars_of(int mote);
}  // namespace AMPromiscuous

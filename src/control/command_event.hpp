#pragma once
// Commands that act on a mote (switch it on or off, hand it a radio or
// serial message, raise an interrupt) run on the simulation thread: the
// command thread wraps each one into a CommandEvent and inserts it into the
// event queue. Command events are forced, so they also run for a mote that
// is switched off (a switched-off mote can be switched on).

#include <cstdint>
#include <vector>

#include "control/wire/gui_msg.hpp"
#include "kernel/event.hpp"
#include "net/vex_msg.hpp"

// The most command events that may wait in the queue at once. A client that
// floods the simulator with commands for the future cannot make the queue
// grow without bound; commands beyond this are refused.
constexpr int MAX_PENDING_COMMAND_EVENTS = 65536;

// incoming_command_data_t and its event: the command's header and payload,
// both owned by the event.
struct CommandEvent final : event_t {
  ctl::GuiMsg msg;
  std::vector<uint8_t> payLoad;

  // event_command_in_create: runs at the header's time as the header's mote.
  CommandEvent(const ctl::GuiMsg& header, std::vector<uint8_t> payload);
  ~CommandEvent() override;
  // event_command_in_handle.
  void handle(EventPtr self, VEX_state_t& state) override;

  // Command events alive (created and not yet released).
  static int pending();
};

// Creates a command event and inserts it into the queue. Returns false, and
// inserts nothing, when MAX_PENDING_COMMAND_EVENTS are already waiting.
bool enqueue_command_event(const ctl::GuiMsg& header, std::vector<uint8_t> payload);

// Where injected messages are delivered: the mote's radio and serial
// reception. Replaceable so tests can watch what a mote is handed.
struct InjectionEntryPoints {
  VEX_MsgPtr (*radio)(VEX_MsgPtr msg);
  VEX_MsgPtr (*uart)(VEX_MsgPtr msg);
};
InjectionEntryPoints default_injection_entry_points();
void set_injection_entry_points(const InjectionEntryPoints& entry_points);

// The buffer the next message injected into `mote` is copied into; the
// mote's own entry of external_comm_msgs_ until a receiver hands back
// another one.
VEX_MsgPtr injection_buffer(uint16_t mote);
// Forgets the buffers handed back by receivers (tests).
void reset_injection_buffers();

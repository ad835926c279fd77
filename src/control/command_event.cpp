#include "control/command_event.hpp"

#include <algorithm>
#include <array>
#include <atomic>
#include <cstring>
#include <memory>

#include "control/wire/records.hpp"
#include "kernel/client_events.hpp"
#include "kernel/dbg.hpp"
#include "kernel/mote_lifecycle.hpp"
#include "kernel/schedule.hpp"
#include "kernel/vex_state.hpp"
#include "kernel/world.hpp"
#include "net/brelo_entry.hpp"

namespace {
std::atomic<int> alive{0};

InjectionEntryPoints entry = default_injection_entry_points();

// Per mote: the message buffer of injected messages, and the buffer to fill
// next (none until first use). Simulation thread only.
std::array<VEX_Msg, VEXNODES> external_comm_msgs_{};
std::array<VEX_MsgPtr, VEXNODES> external_comm_buffers_{};

void inject(uint16_t mote, const std::vector<uint8_t>& payload, VEX_MsgPtr (*deliver)(VEX_MsgPtr)) {
  VEX_MsgPtr buffer = injection_buffer(mote);
  // The payload is one VEX_Msg: a longer one is cut, a shorter one leaves
  // the rest zero (never the bytes of an earlier message).
  ctl::RadioMsgSendCommand command = ctl::from_bytes<ctl::RadioMsgSendCommand>(payload);
  *buffer = command.message;
  buffer->group = VEX_AM_GROUP;
  VEX_MsgPtr next = deliver(buffer);
  external_comm_buffers_[mote] = next != nullptr ? next : buffer;
}
}  // namespace

InjectionEntryPoints default_injection_entry_points() {
  return {BRELO_received_radio, BRELO_received_uart};
}

void set_injection_entry_points(const InjectionEntryPoints& entry_points) { entry = entry_points; }

VEX_MsgPtr injection_buffer(uint16_t mote) {
  VEX_MsgPtr& buffer = external_comm_buffers_[mote];
  if (buffer == nullptr) buffer = &external_comm_msgs_[mote];
  return buffer;
}

void reset_injection_buffers() {
  external_comm_buffers_.fill(nullptr);
  external_comm_msgs_.fill(VEX_Msg{});
}

namespace {
const WorldReset clear_injection_buffers{[] {
  restore_table(external_comm_buffers_);
  restore_table(external_comm_msgs_);
}};
}  // namespace

CommandEvent::CommandEvent(const ctl::GuiMsg& header, std::vector<uint8_t> payload)
    : msg(header), payLoad(std::move(payload)) {
  time = header.time;
  mote = header.moteID;
  force = header.moteID < VEXNODES ? 1 : 0;
  pause = 1;
  cleanup = EventCleanup::total;
  ++alive;
}

CommandEvent::~CommandEvent() { --alive; }

int CommandEvent::pending() { return alive.load(); }

void CommandEvent::handle(EventPtr self, VEX_state_t&) {
  dbg_clear(DBG_SIM, "SIM: Handling incoming command type %d for mote %d\n", msg.msgType,
            msg.moteID);
  const int length = static_cast<int>(payLoad.size());
  switch (msg.msgType) {
    case ctl::AM_TURNONMOTECOMMAND:
      dbg_clear(DBG_SIM, "SIM: Turning on mote %d\n", msg.moteID);
      brelo_start_mote(msg.moteID);
      break;
    case ctl::AM_TURNOFFMOTECOMMAND:
      dbg_clear(DBG_SIM, "SIM: Turning off mote %d\n", msg.moteID);
      brelo_stop_mote(msg.moteID);
      break;
    case ctl::AM_RADIOMSGSENDCOMMAND:
      dbg_clear(DBG_SIM, "SIM: Enqueueing radio message for mote %d (payloadlen %d)\n", msg.moteID,
                length);
      inject(msg.moteID, payLoad, entry.radio);
      break;
    case ctl::AM_UARTMSGSENDCOMMAND:
      dbg_clear(DBG_SIM, "SIM: Enqueueing UART message for mote %d (payloadlen %d)\n", msg.moteID,
                length);
      inject(msg.moteID, payLoad, entry.uart);
      break;
    case ctl::AM_INTERRUPTCOMMAND: {
      auto command = ctl::from_bytes<ctl::InterruptCommand>(payLoad);
      dbg_clear(DBG_TEMP, "\nSIM: Interrupt command, id: %i.\n\n", static_cast<int>(command.id));
      ctl::InterruptEvent echo{command.id};
      sendVarnixEvent(ctl::NO_MOTE, ctl::AM_INTERRUPTEVENT, sim::now(), &echo, sizeof echo);
      break;
    }
    default:
      dbg_clear(DBG_SIM, "SIM: Unrecognizable command type received from Vistrel %i\n",
                msg.msgType);
      break;
  }
  event_cleanup(std::move(self));
}

bool enqueue_command_event(const ctl::GuiMsg& header, std::vector<uint8_t> payload) {
  // Only the command thread inserts command events, so the test and the
  // insert cannot race with each other; the count only falls meanwhile.
  if (CommandEvent::pending() >= MAX_PENDING_COMMAND_EVENTS) return false;
  auto event = std::make_unique<CommandEvent>(header, std::move(payload));
  dbg_clear(DBG_SIM, "SIM: Enqueuing command event 0x%lx\n",
            static_cast<unsigned long>(reinterpret_cast<uintptr_t>(event.get())));
  sim::schedule_from_any_thread(std::move(event));
  return true;
}

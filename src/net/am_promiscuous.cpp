#include "net/am_promiscuous.hpp"

#include <array>

#include "kernel/dbg.hpp"
#include "kernel/per_mote.hpp"
#include "kernel/scheduler.hpp"
#include "kernel/timer_m.hpp"
#include "kernel/vex_state.hpp"
#include "net/uart_no_crc_packet_m.hpp"
#include "radio/orla_high_speed_radio_m.hpp"

namespace AMPromiscuous {
namespace {
PerMote<Vars> am;
std::array<ReceiveHandler, 256> receive_handlers{};
std::array<SendDoneHandler, 256> send_done_handlers{};

// This platform has no power states to choose between.
void PowerManagement_adjustPower() {}

// The layer's own completion, after the user's: nothing listens to it here.
void sendDone() {}

result_t reportSendDone(VEX_MsgPtr msg, result_t success) {
  dbg(DBG_AM, "AM report send done for message to 0x%x, type %d.\n", msg->addr, msg->type);
  vars().state = false;
  SendDoneHandler user = send_done_handlers[msg->type];
  if (user != nullptr) user(msg, success);
  sendDone();
  return SUCCESS;
}

void sendTask() {
  VEX_MsgPtr buffer = vars().buffer;
  result_t sent = buffer->addr == VEX_UART_ADDR ? UARTNoCRCPacketM::Send_send(buffer)
                                                : OrlaHighSpeedRadioM::Send_send(buffer);
  if (sent == FAIL) reportSendDone(buffer, FAIL);
}

bool accepted(const VEX_Msg& msg) {
  const Vars& v = vars();
  bool for_us = v.promiscuous_mode || msg.addr == VEX_BCAST_ADDR || msg.addr == VEX_LOCAL_ADDRESS;
  bool crc_ok = !v.crc_check || msg.crc == 1;
  return msg.group == VEX_AM_GROUP && for_us && crc_ok;
}

// The path both radio and serial packets take once they are in the layer.
VEX_MsgPtr received(VEX_MsgPtr msg) {
  Vars& v = vars();
  ++v.counter;
  dbg(DBG_AM, "AM_address = %hx, %hhx; counter:%i\n", msg->addr, msg->type, v.counter);
  if (!accepted(*msg)) return msg;

  dbg(DBG_AM, "Received message:\n\t");
  print_packet(*msg);
  dbg(DBG_AM, "AM_type = %d\n", msg->type);
  ReceiveHandler user = receive_handlers[msg->type];
  if (user == nullptr) return msg;
  VEX_MsgPtr back = user(msg);
  return back != nullptr ? back : msg;
}
}  // namespace

Vars& vars() { return am(); }
Vars& vars_of(int mote) { return am.of(mote); }

void set_receive_handler(uint8_t type, ReceiveHandler handler) { receive_handlers[type] = handler; }
void set_send_done_handler(uint8_t type, SendDoneHandler handler) {
  send_done_handlers[type] = handler;
}

void print_packet(const VEX_Msg& msg) {
  if (!dbg_active(DBG_AM)) return;
  const auto* bytes = reinterpret_cast<const unsigned char*>(&msg);
  for (std::size_t i = 0; i < sizeof msg; ++i) dbg_clear(DBG_AM, "%02hhx ", bytes[i]);
  dbg(DBG_AM, "\n");
}

result_t Control_init() {
  TimerM::StdControl_init();
  result_t ok = UARTNoCRCPacketM::Control_init();
  ok = rcombine(ok, OrlaHighSpeedRadioM::Control_init());
  Vars& v = vars();
  v.state = false;
  v.lastCount = 0;
  v.counter = 0;
  v.promiscuous_mode = false;
  v.crc_check = true;
  dbg(DBG_BOOT, "AM Module initialized\n");
  return ok;
}

result_t Control_start() {
  result_t ok = TimerM::StdControl_start();
  ok = rcombine(ok, UARTNoCRCPacketM::Control_start());
  ok = rcombine(ok, OrlaHighSpeedRadioM::Control_start());
  ok = rcombine(ok, TimerM::Timer_start(TIMER_ACTIVITY, TIMER_REPEAT, ACTIVITY_PERIOD));
  PowerManagement_adjustPower();
  vars().state = false;
  return ok;
}

result_t Control_stop() {
  if (vars().state) return FAIL;
  result_t ok = UARTNoCRCPacketM::Control_stop();
  ok = rcombine(ok, OrlaHighSpeedRadioM::Control_stop());
  ok = rcombine(ok, TimerM::Timer_stop(TIMER_ACTIVITY));
  PowerManagement_adjustPower();
  return ok;
}

result_t CommControl_setCRCCheck(bool value) {
  vars().crc_check = value;
  return SUCCESS;
}

result_t CommControl_setPromiscuous(bool value) {
  vars().promiscuous_mode = value;
  return SUCCESS;
}

result_t SendMsg_send(uint8_t id, uint16_t addr, uint8_t length, VEX_MsgPtr data) {
  Vars& v = vars();
  if (v.state) return FAIL;
  v.state = true;
  if (length > DATA_LENGTH) {
    dbg(DBG_AM, "AM: Send length too long: %i. Fail.\n", length);
    v.state = false;
    return FAIL;
  }
  if (VEX_post(sendTask) == FAIL) {
    dbg(DBG_AM, "AM: post sendTask failed.\n");
    v.state = false;
    return FAIL;
  }
  v.buffer = data;
  data->length = length;
  data->addr = addr;
  data->type = id;
  data->group = VEX_AM_GROUP;
  print_packet(*data);
  dbg(DBG_AM, "Sending message: %hx, %hhx\n\t", addr, id);
  return SUCCESS;
}

result_t UARTSend_sendDone(VEX_MsgPtr msg, result_t success) {
  return reportSendDone(msg, success);
}
result_t RadioSend_sendDone(VEX_MsgPtr msg, result_t success) {
  return reportSendDone(msg, success);
}

VEX_MsgPtr RadioReceive_receive(VEX_MsgPtr msg) { return received(msg); }

VEX_MsgPtr UARTReceive_receive(VEX_MsgPtr msg) {
  // The serial line has no groups: whatever comes in belongs to ours.
  msg->group = VEX_AM_GROUP;
  return received(msg);
}

result_t ActivityTimer_fired() {
  Vars& v = vars();
  v.lastCount = v.counter;
  v.counter = 0;
  return SUCCESS;
}
}  // namespace AMPromiscuous

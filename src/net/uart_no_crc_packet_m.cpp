#include "net/uart_no_crc_packet_m.hpp"

#include <array>
#include <memory>

#include "kernel/client_events.hpp"
#include "kernel/dbg.hpp"
#include "kernel/run_stats.hpp"
#include "kernel/schedule.hpp"
#include "kernel/vex_state.hpp"
#include "kernel/world.hpp"
#include "net/am_promiscuous.hpp"
#include "net/brelo_entry.hpp"
#include "trace/packet_trace.hpp"

namespace {
// Bumped each time a mote's serial port is initialised, that is at every
// boot. Hardware state: it survives the reset of the component variables.
std::array<uint32_t, VEXNODES> uart_generation{};
const WorldReset clear_uart_generations{[] { restore_table(uart_generation); }};
}  // namespace

namespace UARTNoCRCPacketM {
result_t Send_send(VEX_MsgPtr msg) {
  msg->crc = 1;
  VEXH_uart_send(msg);
  return SUCCESS;
}

result_t Send_sendDone(VEX_MsgPtr msg, result_t success) {
  return AMPromiscuous::UARTSend_sendDone(msg, success);
}

result_t Control_init() {
  ++uart_generation[vex_state.current_node.load()];
  dbg(DBG_BOOT, "UART initialized.\n");
  return SUCCESS;
}

result_t Control_start() {
  dbg(DBG_BOOT, "UART started.\n");
  return SUCCESS;
}

result_t Control_stop() {
  dbg(DBG_BOOT, "UART stopped.\n");
  return SUCCESS;
}
}  // namespace UARTNoCRCPacketM

void VEXH_uart_send(VEX_MsgPtr msg) {
  const int mote = vex_state.current_node.load();
  const vex_time_t now = sim::now();
  run_stats::count(run_stats::serial_sent);
  if (packet_trace::enabled) [[unlikely]] {
    packet_trace::write_host_packet(now, static_cast<uint16_t>(mote),
                                    packet_trace::Direction::serial_to_host, *msg);
  }
  VEX_Msg sent = *msg;  // the UARTMsgSentEvent payload: the record as it left
  sendVarnixEvent(static_cast<uint16_t>(mote), AM_UARTMSGSENTEVENT, now, &sent, sizeof sent);

  auto done = sim::make_event<UartSendDoneEvent>(mote, now + UART_SEND_DELAY);
  dbg(DBG_MEM, "malloc uart send done data event.\n");
  done->msg = msg;
  done->success = 1;
  done->generation = uart_generation[mote];
  sim::schedule(std::move(done));
  dbg(DBG_UART, "Enqueueing uart_send_event at %s for mote %i", currentTime(), mote);
}

void UartSendDoneEvent::handle(EventPtr self, VEX_state_t& state) {
  event_uart_write_handle(std::move(self), state);
}

void event_uart_write_handle(EventPtr event, VEX_state_t&) {
  auto& done = static_cast<UartSendDoneEvent&>(*event);
  if (done.generation == uart_generation[done.mote]) {
    BRELO_uart_send_done(done.msg, static_cast<result_t>(done.success));
  }
  done.msg = nullptr;
  event_cleanup(std::move(event));
  dbg(DBG_UART, "UART: packet transfer complete.\n");
}

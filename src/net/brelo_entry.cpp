#include "net/brelo_entry.hpp"

#include "kernel/run_stats.hpp"
#include "kernel/schedule.hpp"
#include "kernel/vex_state.hpp"
#include "net/am_promiscuous.hpp"
#include "net/uart_no_crc_packet_m.hpp"
#include "trace/packet_trace.hpp"

namespace {
void trace_from_host(packet_trace::Direction direction, const VEX_Msg& msg) {
  packet_trace::write_host_packet(sim::now(), static_cast<uint16_t>(vex_state.current_node.load()),
                                  direction, msg);
}
}  // namespace

// Packets handed in by the simulator did not cross the air or a wire, so
// they cannot have been corrupted: their CRC is marked as passed.
VEX_MsgPtr BRELO_received_radio(VEX_MsgPtr msg) {
  msg->crc = 1;
  if (packet_trace::enabled) [[unlikely]] trace_from_host(packet_trace::Direction::radio_from_host, *msg);
  return AMPromiscuous::RadioReceive_receive(msg);
}

VEX_MsgPtr BRELO_received_uart(VEX_MsgPtr msg) {
  msg->crc = 1;
  run_stats::count(run_stats::serial_received);
  if (packet_trace::enabled) [[unlikely]] trace_from_host(packet_trace::Direction::serial_from_host, *msg);
  return AMPromiscuous::UARTReceive_receive(msg);
}

void BRELO_uart_send_done(VEX_MsgPtr msg, result_t success) {
  UARTNoCRCPacketM::Send_sendDone(msg, success);
}

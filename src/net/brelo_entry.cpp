#include "net/brelo_entry.hpp"

#include "kernel/run_stats.hpp"
#include "net/am_promiscuous.hpp"
#include "net/uart_no_crc_packet_m.hpp"

// Packets handed in by the simulator did not cross the air or a wire, so
// they cannot have been corrupted: their CRC is marked as passed.
VEX_MsgPtr BRELO_received_radio(VEX_MsgPtr msg) {
  msg->crc = 1;
  return AMPromiscuous::RadioReceive_receive(msg);
}

VEX_MsgPtr BRELO_received_uart(VEX_MsgPtr msg) {
  msg->crc = 1;
  run_stats::count(run_stats::serial_received);
  return AMPromiscuous::UARTReceive_receive(msg);
}

void BRELO_uart_send_done(VEX_MsgPtr msg, result_t success) {
  UARTNoCRCPacketM::Send_sendDone(msg, success);
}

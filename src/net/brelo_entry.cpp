#include "net/brelo_entry.hpp"

// Reception reaches the mote once the active-message layer exists.
VEX_MsgPtr BRELO_received_radio(VEX_MsgPtr msg) {
  msg->crc = 1;
  return msg;
}
VEX_MsgPtr BRELO_received_uart(VEX_MsgPtr msg) {
  msg->crc = 1;
  return msg;
}
void BRELO_uart_send_done(VEX_MsgPtr, result_t) {}

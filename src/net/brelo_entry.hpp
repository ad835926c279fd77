#pragma once
// Entry points through which device models and control commands hand a
// packet to the running mote as if its radio or serial port had received it.

#include "kernel/vex_types.hpp"
#include "net/vex_msg.hpp"

// Marks the packet's CRC as passed and delivers it to the active-message
// layer's radio (or serial) reception. Returns the record the mote hands
// back, which the caller keeps for its next packet.
VEX_MsgPtr BRELO_received_radio(VEX_MsgPtr msg);
VEX_MsgPtr BRELO_received_uart(VEX_MsgPtr msg);
// Completes a serial send of the running mote.
void BRELO_uart_send_done(VEX_MsgPtr msg, result_t success);

#pragma once
// The serial port's packet layer. A packet sent on the serial port leaves the
// mote at once (control clients see it as a serial-message event) and its
// transfer completes UART_SEND_DELAY ticks later, always successfully. There
// is no busy check: the active-message layer sends one packet at a time.
//
// It lives beside the active-message layer rather than with the devices
// because its completion goes straight up into that layer.

#include <cstdint>

#include "kernel/event.hpp"
#include "kernel/vex_types.hpp"
#include "net/vex_msg.hpp"

constexpr vex_time_t UART_SEND_DELAY = 1600;  // ticks, 400 us
constexpr uint16_t AM_UARTMSGSENTEVENT = 4;   // client event: a mote sent a serial packet

namespace UARTNoCRCPacketM {
result_t Send_send(VEX_MsgPtr msg);
result_t Send_sendDone(VEX_MsgPtr msg, result_t success);

result_t Control_init();
result_t Control_start();
result_t Control_stop();
}  // namespace UARTNoCRCPacketM

// Hands the record to the emulated serial port of the running mote: reports
// it to the control clients now and schedules the completion.
void VEXH_uart_send(VEX_MsgPtr msg);

// The end of a serial transfer. The record stays owned by its sender; the
// event only points at it. A completion left over from before the mote was
// restarted is discarded: that send no longer exists, and its record may
// already carry a send of the mote's new life.
struct UartSendDoneEvent final : event_t {
  VEX_MsgPtr msg = nullptr;
  int32_t success = 1;
  uint32_t generation = 0;  // the mote's serial-port generation at the send
  void handle(EventPtr self, VEX_state_t& state) override;
};
void event_uart_write_handle(EventPtr event, VEX_state_t& state);

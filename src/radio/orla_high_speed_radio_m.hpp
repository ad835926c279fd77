#pragma once
// OrlaHighSpeedRadioM: the radio's packet protocol, between the
// active-message layer and the bit clock and channel monitor.
//
// Sending: send() asks the channel monitor to wait for a quiet channel
// (carrier sense with random backoff). Then the frame goes out: the 12-byte
// start symbol, the record's bytes 0 to length + 5 and its crc field, each
// byte as three SEC-DED code bytes, a strength pulse (FF FF 00), and five
// byte periods in which the sender listens for the receiver's acknowledgement
// (0x55). The send then completes, always with SUCCESS; the record's ack
// says whether the acknowledgement was heard.
//
// Receiving: when the channel monitor finds a start symbol, the timing step
// lines the mote's bit clock up with the sender's; the code bytes are decoded
// into the receive record, the CRC-16 (XMODEM: polynomial 0x1021, initial
// value 0) is checked and stored in crc as 1 or 0, a packet for this mote or
// for broadcast that passed is acknowledged, and the record goes up. The
// layer above hands back the record to receive the next packet into.
//
// Whatever the length byte on the air says, the receiver writes no further
// than offset 103 (the crc field) of the receive record; a record whose
// length exceeds 96 is sent as if it were 96.

#include <array>
#include <cstdint>

#include "kernel/vex_types.hpp"
#include "net/vex_msg.hpp"

namespace OrlaHighSpeedRadioM {
enum : uint8_t {
  IDLE_STATE = 0,
  SEND_WAITING = 1,
  RX_STATE = 2,
  TRANSMITTING = 3,
  WAITING_FOR_ACK = 4,
  SENDING_STRENGTH_PULSE = 5,
  TRANSMITTING_START = 6,
  RX_DONE_STATE = 7,
  ACK_SEND_STATE = 8
};

struct Vars {
  uint8_t state;
  uint8_t send_state;  // IDLE_STATE or SEND_WAITING
  uint8_t tx_count;    // record offset (or frame byte) being sent
  uint16_t calc_crc;
  uint8_t ack_count;
  uint8_t rec_count;    // record offset being received
  VEX_Msg buffer;       // the mote's own receive record
  VEX_MsgPtr rec_ptr;   // the record being received into
  VEX_MsgPtr send_ptr;  // the record being sent (owned by the sender)
  uint8_t rx_count;
  uint8_t msg_length;  // record bytes in the frame
  uint8_t buf_head;    // the ring of code bytes waiting to be sent
  uint8_t buf_end;
  uint8_t encoded_buffer[4];
  uint8_t enc_count;
};

// The start symbol, in the order it is sent.
constexpr std::array<uint8_t, 12> VEXH_MHSR_start = {0xF0, 0xF0, 0xF0, 0xFF, 0x00, 0xFF,
                                                     0x0F, 0x00, 0xFF, 0x0F, 0x0F, 0x0F};
constexpr uint8_t ACK_BYTE = 0x55;
// The client event that reports a sent radio packet.
constexpr uint16_t AM_RADIOMSGSENTEVENT = 2;

// Takes a record to send; FAIL while another send waits for the channel or
// the mote's own frame is still on the air.
result_t Send_send(VEX_MsgPtr msg);

result_t Control_init();
result_t Control_start();
result_t Control_stop();

// The layer above: where received records and send completions go. The
// application wiring installs them; without them a received record is kept
// for the next reception and completions go nowhere.
struct UpperHandlers {
  VEX_MsgPtr (*receive)(VEX_MsgPtr msg) = nullptr;
  result_t (*send_done)(VEX_MsgPtr msg, result_t success) = nullptr;
};
void set_upper_handlers(const UpperHandlers& handlers);

// Signals from the bit clock, channel monitor, timing step and line code.
result_t SpiByteFifo_dataReady(uint8_t data);
result_t ChannelMon_idleDetect();
result_t ChannelMon_startSymDetect();
result_t finishedTiming();
result_t Code_encodeDone(uint8_t code_byte);
result_t Code_decodeDone(uint8_t data, int8_t error);

// One step of the CRC-16 over a byte.
uint16_t add_crc_byte(uint8_t data, uint16_t crc);

Vars& vars();
Vars& vars_of(int mote);
}  // namespace OrlaHighSpeedRadioM

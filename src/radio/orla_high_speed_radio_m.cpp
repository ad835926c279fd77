#include "radio/orla_high_speed_radio_m.hpp"

#include <algorithm>

#include "devices/power_state_m.hpp"
#include "devices/random_lfsr.hpp"
#include "kernel/client_events.hpp"
#include "kernel/dbg.hpp"
#include "kernel/per_mote.hpp"
#include "kernel/run_stats.hpp"
#include "kernel/schedule.hpp"
#include "kernel/scheduler.hpp"
#include "kernel/vex_state.hpp"
#include "radio/channel_mon_c.hpp"
#include "radio/radio_hardware.hpp"
#include "radio/radio_timing_c.hpp"
#include "radio/radio_trace.hpp"
#include "radio/sec_ded_encoding.hpp"
#include "radio/spi_byte_fifo_c.hpp"
#include "trace/packet_trace.hpp"

namespace OrlaHighSpeedRadioM {
namespace {
PerMote<Vars> radio;
UpperHandlers upper;

constexpr uint8_t LAST_RECORD_OFFSET = MSG_DATA_SIZE - 1;  // 103: the crc field's high byte
constexpr uint8_t CRC_OFFSET = 102;
constexpr uint8_t LONGEST_FRAME = DATA_LENGTH + 6;  // record bytes of a full packet
constexpr uint8_t LAST_SHORT_LENGTH = DATA_LENGTH - 1;
constexpr uint8_t ACK_PERIODS = 5;  // byte periods of the acknowledgement
constexpr uint8_t WAIT_FOR_ACK_END = ACK_PERIODS + 1;
constexpr uint8_t STRENGTH_PULSE_BYTES = 3;

uint8_t* bytes_of(VEX_MsgPtr msg) { return reinterpret_cast<uint8_t*>(msg); }

bool sending(uint8_t state) {
  return state == TRANSMITTING_START || state == TRANSMITTING || state == SENDING_STRENGTH_PULSE ||
         state == WAITING_FOR_ACK;
}

// Hooks for components that want to follow frames byte by byte; none does.
void RadioSendCoordinator_startSymbol() {}
void RadioSendCoordinator_byte(VEX_MsgPtr, uint8_t) {}
void RadioReceiveCoordinator_startSymbol() {}
void RadioReceiveCoordinator_byte(VEX_MsgPtr, uint8_t) {}

// A task is normally posted from an event, when the ring is empty; should it
// be full, the work is done at once rather than lost.
void post(task_t task) {
  if (VEX_post(task) == SUCCESS) return;
  dbg(DBG_ERROR, "OrlaHighSpeedRadioM: task ring full, running the task at once.\n");
  task();
}

// The run statistics take a frame as sent once its acknowledgement window
// has ended, and as received once its CRC field has been decoded.
void count_sent(const VEX_Msg& msg) {
  run_stats::count(run_stats::packets_sent);
  if (msg.ack == 1) run_stats::count(run_stats::packets_acknowledged);
}

void count_received(bool crc_passed) {
  run_stats::count(run_stats::packets_received);
  if (!crc_passed) run_stats::count(run_stats::packets_crc_failed);
}

void packetSent() {
  Vars& v = vars();
  v.send_state = IDLE_STATE;
  v.state = IDLE_STATE;
  VEX_MsgPtr msg = v.send_ptr;
  count_sent(*msg);
  if (client_events_wanted()) {
    VEX_Msg sent = *msg;  // the RadioMsgSentEvent payload
    sent.crc = 1;
    sendVarnixEvent(static_cast<uint16_t>(vex_state.current_node.load()), AM_RADIOMSGSENTEVENT,
                    sim::now(), &sent, sizeof sent);
  }
  if (upper.send_done != nullptr) upper.send_done(msg, SUCCESS);
}

void packetReceived() {
  Vars& v = vars();
  v.state = IDLE_STATE;
  if (packet_trace::enabled) [[unlikely]] RadioTrace::frame_received(*v.rec_ptr);
  VEX_MsgPtr next = upper.receive != nullptr ? upper.receive(v.rec_ptr) : v.rec_ptr;
  if (next != nullptr) v.rec_ptr = next;
  ChannelMonC::ChannelMon_startSymbolSearch();
}

void transmitting(Vars& v) {
  dbg(DBG_PACKET, "Transmitting data, byte %i\n", v.tx_count);
  SpiByteFifoC::SpiByteFifo_send(v.encoded_buffer[v.buf_head]);
  v.buf_head = (v.buf_head + 1) & 3;
  --v.enc_count;
  if (v.enc_count > 1) return;
  if (v.tx_count <= LAST_RECORD_OFFSET) {
    const uint8_t data = bytes_of(v.send_ptr)[v.tx_count];
    SecDedEncoding::Code_encode(data);
    ++v.tx_count;
    if (v.tx_count <= v.msg_length) v.calc_crc = add_crc_byte(data, v.calc_crc);
    if (v.tx_count == v.msg_length) {
      v.tx_count = CRC_OFFSET;
      v.send_ptr->crc = v.calc_crc;
      dbg(DBG_CRC, "OrlaHighSpeedRadioM: Send CRC calculated to be 0x%hx.\n", v.calc_crc);
    }
    RadioSendCoordinator_byte(v.send_ptr, v.tx_count);
  } else if (v.buf_head != v.buf_end) {
    SecDedEncoding::Code_encode_flush();
  } else {
    v.state = SENDING_STRENGTH_PULSE;
    v.tx_count = 0;
  }
}

void waiting_for_ack(Vars& v, uint8_t data) {
  const uint8_t heard = data & 0x7F;
  dbg(DBG_PACKET, "Waiting for ACK, byte %i\n", v.tx_count);
  SpiByteFifoC::SpiByteFifo_send(0x00);
  if (v.tx_count == 1) SpiByteFifoC::SpiByteFifo_phaseShift();
  SpiByteFifoC::SpiByteFifo_rxMode();
  if (++v.tx_count != WAIT_FOR_ACK_END) return;
  v.send_ptr->ack = heard == ACK_BYTE ? 1 : 0;
  v.state = IDLE_STATE;
  SpiByteFifoC::SpiByteFifo_idle();
  ChannelMonC::ChannelMon_startSymbolSearch();
  post(packetSent);
}

void sending_ack(Vars& v) {
  dbg(DBG_PACKET, "Sending ACK, count %i\n", v.ack_count);
  if (++v.ack_count <= ACK_PERIODS) {
    // The look-ahead byte (the acknowledgement, if one was queued) goes out again.
    SpiByteFifoC::SpiByteFifo_txMode();
    return;
  }
  v.state = RX_DONE_STATE;
  SpiByteFifoC::SpiByteFifo_idle();
  post(packetReceived);
}

void check_crc(Vars& v) {
  VEX_MsgPtr msg = v.rec_ptr;
  const bool passed = v.calc_crc == msg->crc;
  count_received(passed);
  if (packet_trace::enabled) [[unlikely]] RadioTrace::crc_checked(*msg, v.msg_length, passed);
  if (passed) {
    dbg(DBG_CRC, "OrlaHighSpeedRadioM: Passed CRC. Expected: 0x%hx, received 0x%hx.\n", v.calc_crc,
        msg->crc);
    msg->crc = 1;
    if (msg->addr == VEX_LOCAL_ADDRESS || msg->addr == VEX_BCAST_ADDR) {
      SpiByteFifoC::SpiByteFifo_send(ACK_BYTE);
    }
  } else {
    dbg(DBG_CRC, "OrlaHighSpeedRadioM: Failed CRC. Expected: 0x%hx, received 0x%hx.\n", v.calc_crc,
        msg->crc);
    msg->crc = 0;
  }
}
}  // namespace

Vars& vars() { return radio(); }
Vars& vars_of(int mote) { return radio.of(mote); }

void set_upper_handlers(const UpperHandlers& handlers) { upper = handlers; }

uint16_t add_crc_byte(uint8_t data, uint16_t crc) {
  crc = static_cast<uint16_t>(crc ^ (data << 8));
  for (int i = 0; i < 8; ++i) {
    crc = (crc & 0x8000) ? static_cast<uint16_t>((crc << 1) ^ 0x1021)
                         : static_cast<uint16_t>(crc << 1);
  }
  return crc;
}

result_t Send_send(VEX_MsgPtr msg) {
  Vars& v = vars();
  if (v.send_state == SEND_WAITING || sending(v.state)) return FAIL;
  v.send_ptr = msg;
  v.send_state = SEND_WAITING;
  v.tx_count = 1;
  return ChannelMonC::ChannelMon_macDelay();
}

result_t Control_init() {
  reset_radio_hardware(vex_state.current_node.load());
  Vars& v = vars();
  v.rec_ptr = &v.buffer;
  v.send_state = IDLE_STATE;
  v.state = IDLE_STATE;
  result_t ok = ChannelMonC::ChannelMon_init();
  return rcombine(ok, RandomLFSR::Random_init());
}

result_t Control_start() {
  PowerStateM::radioStart();
  return SUCCESS;
}

result_t Control_stop() {
  PowerStateM::radioStop();
  return SUCCESS;
}

result_t ChannelMon_idleDetect() {
  Vars& v = vars();
  if (v.send_state == SEND_WAITING) {
    v.buf_head = 0;
    v.buf_end = 0;
    v.enc_count = 0;
    const uint8_t first = bytes_of(v.send_ptr)[0];
    SecDedEncoding::Code_encode(first);
    // A record claiming more than DATA_LENGTH bytes goes out as a full one:
    // its frame would otherwise never reach the crc field and never end.
    v.msg_length = static_cast<uint8_t>(std::min<int>(v.send_ptr->length, DATA_LENGTH) + 6);
    v.send_state = IDLE_STATE;
    v.state = TRANSMITTING_START;
    SpiByteFifoC::SpiByteFifo_send(VEXH_MHSR_start[0]);
    v.send_ptr->time = RadioTimingC::RadioTiming_currentTime();
    v.calc_crc = add_crc_byte(first, 0);
    if (packet_trace::enabled) [[unlikely]] RadioTrace::frame_started(*v.send_ptr, v.msg_length);
  }
  RadioSendCoordinator_startSymbol();
  return SUCCESS;
}

result_t ChannelMon_startSymDetect() {
  Vars& v = vars();
  v.ack_count = 0;
  v.rec_count = 0;
  v.state = RX_STATE;
  dbg(DBG_PACKET, "Detected start symbol.\n");
  RadioTimingC::RadioTiming_getTiming();
  RadioReceiveCoordinator_startSymbol();
  return SUCCESS;
}

result_t finishedTiming() {
  Vars& v = vars();
  SpiByteFifoC::SpiByteFifo_startReadBytes(0);
  v.msg_length = LONGEST_FRAME;
  v.calc_crc = 0;
  v.rec_ptr->time = RadioTimingC::RadioTiming_currentTime();
  v.rec_ptr->strength = 0;
  return SUCCESS;
}

result_t SpiByteFifo_dataReady(uint8_t data) {
  Vars& v = vars();
  switch (v.state) {
    case TRANSMITTING_START:
      dbg(DBG_PACKET, "Transmitting start symbol, byte %i\n", v.tx_count);
      SpiByteFifoC::SpiByteFifo_send(VEXH_MHSR_start[v.tx_count]);
      if (++v.tx_count == VEXH_MHSR_start.size()) {
        v.state = TRANSMITTING;
        v.tx_count = 1;
      }
      break;
    case TRANSMITTING:
      transmitting(v);
      break;
    case SENDING_STRENGTH_PULSE:
      ++v.tx_count;
      dbg(DBG_PACKET, "Transmitting strength pulse, byte %i\n", v.tx_count);
      if (v.tx_count == STRENGTH_PULSE_BYTES) {
        v.state = WAITING_FOR_ACK;
        v.tx_count = 1;
        SpiByteFifoC::SpiByteFifo_send(0x00);
      } else {
        SpiByteFifoC::SpiByteFifo_send(0xFF);
      }
      break;
    case WAITING_FOR_ACK:
      waiting_for_ack(v, data);
      break;
    case RX_STATE:
      SecDedEncoding::Code_decode(data);
      break;
    case ACK_SEND_STATE:
      sending_ack(v);
      break;
    default:
      break;
  }
  return SUCCESS;
}

result_t Code_encodeDone(uint8_t code_byte) {
  Vars& v = vars();
  v.encoded_buffer[v.buf_end] = code_byte;
  v.buf_end = (v.buf_end + 1) & 3;
  ++v.enc_count;
  return SUCCESS;
}

result_t Code_decodeDone(uint8_t data, int8_t) {
  Vars& v = vars();
  if (v.state == IDLE_STATE) return FAIL;
  if (v.state != RX_STATE) return SUCCESS;
  if (v.rec_count > LAST_RECORD_OFFSET) return SUCCESS;  // never past the crc field
  bytes_of(v.rec_ptr)[v.rec_count] = data;
  ++v.rec_count;
  if (v.rec_count <= LAST_RECORD_OFFSET) {
    if (v.rec_count <= CRC_OFFSET) v.calc_crc = add_crc_byte(data, v.calc_crc);
    if (v.rec_count == LENGTH_BYTE_NUMBER && data <= LAST_SHORT_LENGTH) {
      v.msg_length = static_cast<uint8_t>(data + 6);
    }
    if (v.rec_count == v.msg_length) v.rec_count = CRC_OFFSET;
    return SUCCESS;
  }
  check_crc(v);
  v.state = ACK_SEND_STATE;
  RadioReceiveCoordinator_byte(v.rec_ptr, v.rec_count);
  return SUCCESS;
}
}  // namespace OrlaHighSpeedRadioM

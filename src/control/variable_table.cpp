#include "control/variable_table.hpp"

#include <array>
#include <cstring>
#include <string_view>
#include <type_traits>

#include "devices/adc_m.hpp"
#include "devices/i2c_m.hpp"
#include "devices/i2c_pot_m.hpp"
#include "devices/leds_m.hpp"
#include "devices/photo_temp_m.hpp"
#include "devices/random_lfsr.hpp"
#include "kernel/clock.hpp"
#include "kernel/timer_m.hpp"
#include "net/am_promiscuous.hpp"
#include "net/net_to_ssm.hpp"
#include "protocol/variables.hpp"
#include "query/pellund_m.hpp"
#include "radio/channel_mon_c.hpp"
#include "radio/orla_high_speed_radio_m.hpp"
#include "radio/radio_hardware.hpp"
#include "radio/sec_ded_encoding.hpp"
#include "radio/spi_byte_fifo_c.hpp"
#include "streams/remote_stream.hpp"
#include "streams/sensor_stream.hpp"
#include "streams/ss_to_app.hpp"

namespace {
// Copies a value whose host bytes are already its 32-bit image.
template <typename T>
void raw(uint8_t* out, const T& value) {
  static_assert(std::is_trivially_copyable_v<T>);
  std::memcpy(out, &value, sizeof value);
}

// The stride of a table's entries in the image clients receive.
consteval uint16_t entry_size(std::string_view name) { return protocol::layout_of(name).entry_size; }

// Pointers are shown as 0 when null and as a fixed nonzero token otherwise:
// the host address means nothing to a client and is never given out.
void pointer(uint8_t* out, const void* p) {
  uint32_t token = p == nullptr ? 0 : 1;
  raw(out, token);
}

// An event handle reads as the event pointer it stands for.
void handle(uint8_t* out, const RadioEventHandle& h) { pointer(out, h.live ? &h : nullptr); }

void channel_table(int mote, uint8_t* out) {
  const auto& table = NetToSSM::vars_of(mote).channel_table;
  for (const NetToSSM::table_elem& e : table) {
    raw(out, e.channel_id);
    raw(out + 4, e.dest);
    out[6] = e.validity;
    out += entry_size("NetToSSM$channel_table");
  }
}

// The ring fields shared by local, sensor and destination entries: the five
// cursor bytes at `bytes`, the two pointers at `pointers` (4-aligned), then
// the four waiting reads and their three counters.
void ring(uint8_t* bytes, uint8_t* pointers, const StreamRing& r) {
  bytes[0] = r.first;
  bytes[1] = r.last;
  bytes[2] = r.current_cursor;
  bytes[3] = r.buffer_size;
  bytes[4] = r.data_counter;
  pointer(pointers, r.buffer.empty() ? nullptr : r.buffer.data());
  pointer(pointers + 4, r.buffer_elem_size.empty() ? nullptr : r.buffer_elem_size.data());
  for (int i = 0; i < 4; ++i) pointers[8 + i] = r.read_requested[i].nbytes;
  pointers[12] = r.tail;
  pointers[13] = r.head;
  pointers[14] = r.num_reads;
}

// 24 bytes an entry: validity, the ring from byte 1, pointers from byte 8.
void local_table(int mote, uint8_t* out) {
  for (const LSDT_Entry& e : SSToAppM::vars_of(mote).local_table) {
    out[0] = e.validity;
    ring(out + 1, out + 8, e);
    out += entry_size("SSToAppM$local_table");
  }
}

// 32 bytes an entry: sensor id, the rate at byte 4, the sampling type, then
// the ring from byte 9 with its pointers from byte 16.
void sensor_table(int mote, uint8_t* out) {
  for (const SSDT_Entry& e : SSToAppM::vars_of(mote).sensor_table) {
    out[0] = e.sensor_tid;
    raw(out + 4, e.stream_rate);
    out[8] = e.sampling_type;
    ring(out + 9, out + 16, e);
    out += entry_size("SSToAppM$sensor_table");
  }
}

// 60 bytes an entry: the name, four channels and four rates from byte 4,
// three counters at 36, the ring from byte 39 with its pointers from 44.
void dest_remote_table(int mote, uint8_t* out) {
  for (const DRSDT_Entry& e : SSToAppM::vars_of(mote).dest_remote_table) {
    out[0] = e.symbolic_name;
    raw(out + 4, e.channel_id);
    raw(out + 20, e.stream_rate);
    out[36] = e.src_validity;
    out[37] = e.reliability;
    out[38] = e.src_counter;
    ring(out + 39, out + 44, e);
    out += entry_size("SSToAppM$dest_remote_table");
  }
}

// 12 bytes an entry: channel, name, cursor, capacity, then the copy ring's pointer.
void src_remote_table(int mote, uint8_t* out) {
  for (const SRSDT_Entry& e : SSToAppM::vars_of(mote).src_remote_table) {
    raw(out, e.channel_id);
    out[4] = e.symbolic_name;
    out[5] = e.current_cursor;
    out[6] = e.buffer_size;
    pointer(out + 8, e.buffer.empty() ? nullptr : e.buffer.data());
    out += entry_size("SSToAppM$src_remote_table");
  }
}

// The tables copied whole must have the sizes clients are told.
static_assert(sizeof(PellundM::Vars::operator_table) == protocol::variable_size("PellundM$operator_table"));
static_assert(sizeof(PellundM::Vars::open_table) == protocol::variable_size("PellundM$open_table"));
static_assert(sizeof(PellundM::Vars::open_requested) == protocol::variable_size("PellundM$open_requested"));
static_assert(sizeof(PellundM::Vars::read_requested) == protocol::variable_size("PellundM$read_requested"));
static_assert(sizeof(VEX_Msg) == 112 && sizeof(MsgSS) == 44 && sizeof(stream_type) == 2);

// Sizes come from the protocol's list of variables, which brelo-ctl decodes by.
#define ROW(text, body) \
  VariableRow { text, protocol::variable_size(text), [](int mote, uint8_t* out) { body; } }

constexpr std::array<VariableRow, protocol::variables.size()> rows = {{
    ROW("PellundM$operator_table", raw(out, PellundM::vars_of(mote).operator_table)),
    ROW("PellundM$open_table", raw(out, PellundM::vars_of(mote).open_table)),
    ROW("PellundM$open_requested", raw(out, PellundM::vars_of(mote).open_requested)),
    ROW("PellundM$read_requested", raw(out, PellundM::vars_of(mote).read_requested)),
    ROW("PellundM$send_pending", out[0] = PellundM::vars_of(mote).send_pending),
    ROW("PellundM$pkt", raw(out, PellundM::vars_of(mote).pkt)),
    ROW("PellundM$gTxMsg", raw(out, PellundM::vars_of(mote).gTxMsg)),
    ROW("PellundM$radio_send_pending", out[0] = PellundM::vars_of(mote).radio_send_pending),
    ROW("SSToAppM$packet", raw(out, SSToAppM::remote_vars_of(mote).packet)),
    ROW("SSToAppM$openRemoteDone_stream_desc",
        raw(out, SSToAppM::remote_vars_of(mote).openRemoteDone_stream_desc)),
    ROW("SSToAppM$openRemoteDone_symbolic_name",
        out[0] = SSToAppM::remote_vars_of(mote).openRemoteDone_symbolic_name),
    ROW("SSToAppM$openRemoteDone_success",
        out[0] = SSToAppM::remote_vars_of(mote).openRemoteDone_success),
    ROW("SSToAppM$insertDataTaskLight_data", raw(out, SSToAppM::sensor_vars_of(mote).insertDataTaskLight_data)),
    ROW("SSToAppM$insertDataTaskTemp_data", raw(out, SSToAppM::sensor_vars_of(mote).insertDataTaskTemp_data)),
    ROW("SSToAppM$insertDataTaskVoice_data", raw(out, SSToAppM::sensor_vars_of(mote).insertDataTaskVoice_data)),
    ROW("SSToAppM$insertDataTaskAccelX_data", raw(out, SSToAppM::sensor_vars_of(mote).insertDataTaskAccelX_data)),
    ROW("SSToAppM$insertDataTaskAccelY_data", raw(out, SSToAppM::sensor_vars_of(mote).insertDataTaskAccelY_data)),
    ROW("SSToAppM$insertDataTaskMagX_data", raw(out, SSToAppM::sensor_vars_of(mote).insertDataTaskMagX_data)),
    ROW("SSToAppM$insertDataTaskMagY_data", raw(out, SSToAppM::sensor_vars_of(mote).insertDataTaskMagY_data)),
    ROW("SSToAppM$insertDataTaskLight_timestamp", raw(out, SSToAppM::sensor_vars_of(mote).insertDataTaskLight_timestamp)),
    ROW("SSToAppM$insertDataTaskTemp_timestamp", raw(out, SSToAppM::sensor_vars_of(mote).insertDataTaskTemp_timestamp)),
    ROW("SSToAppM$insertDataTaskVoice_timestamp", raw(out, SSToAppM::sensor_vars_of(mote).insertDataTaskVoice_timestamp)),
    ROW("SSToAppM$insertDataTaskAccelX_timestamp", raw(out, SSToAppM::sensor_vars_of(mote).insertDataTaskAccelX_timestamp)),
    ROW("SSToAppM$insertDataTaskAccelY_timestamp", raw(out, SSToAppM::sensor_vars_of(mote).insertDataTaskAccelY_timestamp)),
    ROW("SSToAppM$insertDataTaskMagX_timestamp", raw(out, SSToAppM::sensor_vars_of(mote).insertDataTaskMagX_timestamp)),
    ROW("SSToAppM$insertDataTaskMagY_timestamp", raw(out, SSToAppM::sensor_vars_of(mote).insertDataTaskMagY_timestamp)),
    ROW("SSToAppM$src_remote_table", src_remote_table(mote, out)),
    ROW("SSToAppM$dest_remote_table", dest_remote_table(mote, out)),
    ROW("SSToAppM$sensor_table", sensor_table(mote, out)),
    ROW("SSToAppM$local_table", local_table(mote, out)),
    ROW("SSToAppM$timestamp", raw(out, SSToAppM::vars_of(mote).timestamp)),
    ROW("SSToAppM$timestamp_rate", raw(out, SSToAppM::vars_of(mote).timestamp_rate)),
    ROW("SSToAppM$epotime", raw(out, SSToAppM::vars_of(mote).epotime)),
    ROW("SSToAppM$epoch_rate", raw(out, SSToAppM::vars_of(mote).epoch_rate)),
    ROW("NetToSSM$channel_table", channel_table(mote, out)),
    ROW("NetToSSM$send_pending", out[0] = NetToSSM::vars_of(mote).send_pending),
    ROW("NetToSSM$pbuffer", pointer(out, NetToSSM::vars_of(mote).pbuffer)),
    ROW("NetToSSM$global_buffer", raw(out, NetToSSM::vars_of(mote).global_buffer)),
    ROW("NetToSSM$connect_buffer", raw(out, NetToSSM::vars_of(mote).connect_buffer)),
    ROW("NetToSSM$disconnect_buffer", raw(out, NetToSSM::vars_of(mote).disconnect_buffer)),
    ROW("NetToSSM$send_buffer", raw(out, NetToSSM::vars_of(mote).send_buffer)),
    ROW("AMPromiscuous$state", out[0] = AMPromiscuous::vars_of(mote).state),
    ROW("AMPromiscuous$buffer", pointer(out, AMPromiscuous::vars_of(mote).buffer)),
    ROW("AMPromiscuous$lastCount", raw(out, AMPromiscuous::vars_of(mote).lastCount)),
    ROW("AMPromiscuous$counter", raw(out, AMPromiscuous::vars_of(mote).counter)),
    ROW("AMPromiscuous$promiscuous_mode",
        out[0] = AMPromiscuous::vars_of(mote).promiscuous_mode),
    ROW("AMPromiscuous$crc_check", out[0] = AMPromiscuous::vars_of(mote).crc_check),
    ROW("OrlaHighSpeedRadioM$state", out[0] = OrlaHighSpeedRadioM::vars_of(mote).state),
    ROW("OrlaHighSpeedRadioM$send_state",
        out[0] = OrlaHighSpeedRadioM::vars_of(mote).send_state),
    ROW("OrlaHighSpeedRadioM$tx_count", out[0] = OrlaHighSpeedRadioM::vars_of(mote).tx_count),
    ROW("OrlaHighSpeedRadioM$calc_crc", raw(out, OrlaHighSpeedRadioM::vars_of(mote).calc_crc)),
    ROW("OrlaHighSpeedRadioM$ack_count",
        out[0] = OrlaHighSpeedRadioM::vars_of(mote).ack_count),
    ROW("OrlaHighSpeedRadioM$rec_count",
        out[0] = OrlaHighSpeedRadioM::vars_of(mote).rec_count),
    ROW("OrlaHighSpeedRadioM$buffer", raw(out, OrlaHighSpeedRadioM::vars_of(mote).buffer)),
    ROW("OrlaHighSpeedRadioM$rec_ptr", pointer(out, OrlaHighSpeedRadioM::vars_of(mote).rec_ptr)),
    ROW("OrlaHighSpeedRadioM$send_ptr",
        pointer(out, OrlaHighSpeedRadioM::vars_of(mote).send_ptr)),
    ROW("OrlaHighSpeedRadioM$rx_count", out[0] = OrlaHighSpeedRadioM::vars_of(mote).rx_count),
    ROW("OrlaHighSpeedRadioM$msg_length",
        out[0] = OrlaHighSpeedRadioM::vars_of(mote).msg_length),
    ROW("OrlaHighSpeedRadioM$buf_head", out[0] = OrlaHighSpeedRadioM::vars_of(mote).buf_head),
    ROW("OrlaHighSpeedRadioM$buf_end", out[0] = OrlaHighSpeedRadioM::vars_of(mote).buf_end),
    ROW("OrlaHighSpeedRadioM$encoded_buffer",
        raw(out, OrlaHighSpeedRadioM::vars_of(mote).encoded_buffer)),
    ROW("OrlaHighSpeedRadioM$enc_count",
        out[0] = OrlaHighSpeedRadioM::vars_of(mote).enc_count),
    ROW("SecDedEncoding$data1", out[0] = SecDedEncoding::vars_of(mote).data1),
    ROW("SecDedEncoding$data2", out[0] = SecDedEncoding::vars_of(mote).data2),
    ROW("SecDedEncoding$data3", out[0] = SecDedEncoding::vars_of(mote).data3),
    ROW("SecDedEncoding$state", out[0] = SecDedEncoding::vars_of(mote).state),
    ROW("RandomLFSR$shiftReg", raw(out, RandomLFSR::vars_of(mote).shiftReg)),
    ROW("RandomLFSR$initSeed", raw(out, RandomLFSR::vars_of(mote).initSeed)),
    ROW("RandomLFSR$mask", raw(out, RandomLFSR::vars_of(mote).mask)),
    ROW("channelMonEvents", handle(out, channelMonEvents[mote])),
    ROW("ChannelMonC$CM_search", raw(out, ChannelMonC::vars_of(mote).CM_search)),
    ROW("ChannelMonC$CM_state", out[0] = ChannelMonC::vars_of(mote).CM_state),
    ROW("ChannelMonC$CM_lastBit", out[0] = ChannelMonC::vars_of(mote).CM_lastBit),
    ROW("ChannelMonC$CM_startSymBits", out[0] = ChannelMonC::vars_of(mote).CM_startSymBits),
    ROW("ChannelMonC$CM_waiting", raw(out, ChannelMonC::vars_of(mote).CM_waiting)),
    ROW("radioTimingEvents", handle(out, radioTimingEvents[mote])),
    ROW("SpiByteFifoC$nextByte", out[0] = SpiByteFifoC::vars_of(mote).nextByte),
    ROW("SpiByteFifoC$state", out[0] = SpiByteFifoC::vars_of(mote).state),
    ROW("SpiByteFifoC$spdr", out[0] = SpiByteFifoC::vars_of(mote).spdr),
    ROW("SpiByteFifoC$radioState", out[0] = SpiByteFifoC::vars_of(mote).radioState),
    ROW("TimerM$mState", raw(out, TimerM::vars_of(mote).mState)),
    ROW("TimerM$setIntervalFlag", out[0] = TimerM::vars_of(mote).setIntervalFlag),
    ROW("TimerM$mScale", out[0] = TimerM::vars_of(mote).mScale),
    ROW("TimerM$mInterval", out[0] = TimerM::vars_of(mote).mInterval),
    ROW("TimerM$queue_head", raw(out, TimerM::vars_of(mote).queue_head)),
    ROW("TimerM$queue_tail", raw(out, TimerM::vars_of(mote).queue_tail)),
    ROW("TimerM$queue_size", out[0] = TimerM::vars_of(mote).queue_size),
    ROW("TimerM$queue", raw(out, TimerM::vars_of(mote).queue)),
    ROW("TimerM$interval_outstanding", raw(out, TimerM::vars_of(mote).interval_outstanding)),
    ROW("TimerM$mTimerList",
        for (const TimerM::timer_s& t : TimerM::vars_of(mote).mTimerList) {
          out[0] = t.type;
          raw(out + 4, t.ticks);
          raw(out + 8, t.ticksLeft);
          out += entry_size("TimerM$mTimerList");
        }),
    ROW("HPLClock$set_flag", out[0] = HPLClock::vars_of(mote).set_flag),
    ROW("HPLClock$mscale", out[0] = HPLClock::vars_of(mote).mscale),
    ROW("HPLClock$nextScale", out[0] = HPLClock::vars_of(mote).nextScale),
    ROW("HPLClock$minterval", out[0] = HPLClock::vars_of(mote).minterval),
    ROW("LedsM$ledsOn", out[0] = LedsM::vars_of(mote).ledsOn),
    ROW("ADCM$ReqPort", raw(out, ADCM::vars_of(mote).ReqPort)),
    ROW("ADCM$ReqVector", raw(out, ADCM::vars_of(mote).ReqVector)),
    ROW("ADCM$ContReqMask", raw(out, ADCM::vars_of(mote).ContReqMask)),
    ROW("I2CM$state", out[0] = I2CM::vars_of(mote).state),
    ROW("I2CM$local_data", out[0] = I2CM::vars_of(mote).local_data),
    ROW("I2CPotM$data", out[0] = I2CPotM::vars_of(mote).data),
    ROW("I2CPotM$state", out[0] = I2CPotM::vars_of(mote).state),
    ROW("I2CPotM$addr", out[0] = I2CPotM::vars_of(mote).addr),
    ROW("I2CPotM$pot", out[0] = I2CPotM::vars_of(mote).pot),
    ROW("PhotoTempM$hardwareStatus", raw(out, PhotoTempM::vars_of(mote).hardwareStatus)),
    ROW("PhotoTempM$photoSensor", raw(out, PhotoTempM::vars_of(mote).photoSensor)),
    ROW("PhotoTempM$tempSensor", raw(out, PhotoTempM::vars_of(mote).tempSensor)),
    ROW("PhotoTempM$waitingForSample", out[0] = PhotoTempM::vars_of(mote).waitingForSample),
}};
#undef ROW

// The server offers exactly the protocol's variables, in its order.
static_assert([] {
  for (std::size_t i = 0; i < rows.size(); ++i) {
    if (std::string_view(rows[i].name) != protocol::variables[i].name) return false;
  }
  return true;
}());
}  // namespace

std::span<const VariableRow> variable_table() { return rows; }

#include "radio/radio_trace.hpp"

#include <array>
#include <mutex>

#include "kernel/schedule.hpp"
#include "kernel/vex_state.hpp"
#include "kernel/world.hpp"
#include "radio/connectivity.hpp"
#include "radio/orla_high_speed_radio_m.hpp"
#include "radio/radio_hardware.hpp"
#include "trace/packet_trace.hpp"

namespace RadioTrace {
namespace {
using packet_trace::Collision;
using packet_trace::CrcStatus;
using packet_trace::Direction;

constexpr vex_time_t BYTE_TICKS = 8 * RADIO_TICKS_PER_EVENT;
constexpr int START_SYMBOL_BYTES = 12;
constexpr int CODE_BYTES = 3;  // per record byte
constexpr int CARRIER_PULSE_BYTES = 2;  // of the strength pulse FF FF 00

// Byte periods from the first start-symbol byte to the end of the crc of a
// frame of `record_bytes` record bytes.
vex_time_t frame_ticks(uint8_t record_bytes) {
  return (START_SYMBOL_BYTES + CODE_BYTES * (record_bytes + 2)) * BYTE_TICKS;
}

// The frame each mote sent last: on the air from `start` until `end`. The
// end allows a byte period for the bit clock's look-ahead byte.
struct AirTime {
  vex_time_t start = 0;
  vex_time_t end = 0;  // 0: the mote has sent nothing yet
};
std::array<AirTime, VEXNODES> air{};

// The verdict of a mote's last CRC check, kept until the frame goes up.
struct Reception {
  uint16_t crc = 0;  // the crc bytes as received
  uint8_t record_bytes = 0;
  CrcStatus status = CrcStatus::failed;
  Collision collision = Collision::unknown;
  uint8_t senders = 0;
};
std::array<Reception, VEXNODES> reception{};

const WorldReset forget_frames{[] {
  restore_table(air);
  restore_table(reception);
}};

int running_mote() { return vex_state.current_node.load(); }

bool linked(int sender, int receiver) {
  if (rfm->kind == RfmKind::simple) return true;
  std::lock_guard<std::mutex> guard(radioConnectivityLock);
  for (link_t* link = radio_connectivity[sender]; link != nullptr; link = link->next_link) {
    if (link->mote == receiver) return true;
  }
  return false;
}

// Senders linked to `receiver` whose frames overlapped [from, to].
int senders_on_air(int receiver, vex_time_t from, vex_time_t to) {
  int count = 0;
  for (int sender = 0; sender < vex_state.num_nodes; ++sender) {
    const AirTime& frame = air[sender];
    if (sender == receiver || frame.end == 0) continue;
    if (frame.start < to && frame.end > from && linked(sender, receiver)) ++count;
  }
  return count;
}
}  // namespace

void frame_started(const VEX_Msg& msg, uint8_t record_bytes) {
  const int mote = running_mote();
  const vex_time_t now = sim::now();
  const auto* bytes = reinterpret_cast<const uint8_t*>(&msg);
  uint16_t crc = 0;
  for (int i = 0; i < record_bytes; ++i) crc = OrlaHighSpeedRadioM::add_crc_byte(bytes[i], crc);
  air[mote] = {now, now + frame_ticks(record_bytes) + (CARRIER_PULSE_BYTES + 1) * BYTE_TICKS};

  packet_trace::Header header;
  header.mote = static_cast<uint16_t>(mote);
  header.direction = Direction::radio_sent;
  packet_trace::write_packet(now, header, msg, record_bytes, crc);
}

void crc_checked(const VEX_Msg& msg, uint8_t record_bytes, bool passed) {
  const int mote = running_mote();
  const vex_time_t now = sim::now();
  // The receiver decodes the last crc byte a little after the sender sent
  // it; a byte period of margin keeps the frame before out of the window.
  const int senders = senders_on_air(mote, now - frame_ticks(record_bytes) - BYTE_TICKS, now);
  Reception& r = reception[mote];
  r.crc = msg.crc;
  r.record_bytes = record_bytes;
  r.status = passed ? CrcStatus::passed : CrcStatus::failed;
  r.collision = senders == 0 ? Collision::unknown : senders == 1 ? Collision::no : Collision::yes;
  r.senders = static_cast<uint8_t>(senders < 255 ? senders : 255);
}

void frame_received(const VEX_Msg& msg) {
  const int mote = running_mote();
  const Reception& r = reception[mote];
  packet_trace::Header header;
  header.mote = static_cast<uint16_t>(mote);
  header.direction = Direction::radio_received;
  header.crc = r.status;
  header.collision = r.collision;
  header.senders = r.senders;
  packet_trace::write_packet(sim::now(), header, msg, r.record_bytes, r.crc);
}

}  // namespace RadioTrace

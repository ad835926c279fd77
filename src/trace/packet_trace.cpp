#include "trace/packet_trace.hpp"

#include <pcap/pcap.h>

#include <algorithm>
#include <array>
#include <cstring>

namespace packet_trace {
namespace {
// Longest record: the header and a full frame (102 record bytes and the crc).
constexpr std::size_t MAX_RECORD = HEADER_LENGTH + MSG_DATA_SIZE;
constexpr int SNAPLEN = 256;

pcap_t* dead = nullptr;  // the link type and time precision of the file
pcap_dumper_t* dumper = nullptr;

void put_u16(uint8_t* at, uint16_t value) {
  at[0] = static_cast<uint8_t>(value);
  at[1] = static_cast<uint8_t>(value >> 8);
}
}  // namespace

bool open(const std::string& path, std::string& why) {
  close();
  dead = pcap_open_dead(DLT_USER0, SNAPLEN);
  if (dead == nullptr) {
    why = "libpcap could not set up a trace";
    return false;
  }
  dumper = pcap_dump_open(dead, path.c_str());
  if (dumper == nullptr) {
    why = pcap_geterr(dead);
    pcap_close(dead);
    dead = nullptr;
    return false;
  }
  enabled = true;
  return true;
}

void write(vex_time_t time, const Header& header, std::span<const uint8_t> frame) {
  if (dumper == nullptr) return;
  std::array<uint8_t, MAX_RECORD> record{};
  const std::size_t frame_bytes = std::min(frame.size(), MAX_RECORD - HEADER_LENGTH);
  record[0] = HEADER_LENGTH;
  record[1] = HEADER_VERSION;
  put_u16(&record[2], header.mote);
  record[4] = static_cast<uint8_t>(header.direction);
  record[5] = static_cast<uint8_t>(header.crc);
  record[6] = static_cast<uint8_t>(header.collision);
  record[7] = header.senders;
  std::memcpy(&record[HEADER_LENGTH], frame.data(), frame_bytes);

  // Four ticks make a microsecond.
  const int64_t micros = time / (TICKS_PER_SECOND / 1000000);
  pcap_pkthdr stamp{};
  stamp.ts.tv_sec = static_cast<time_t>(micros / 1000000);
  stamp.ts.tv_usec = static_cast<suseconds_t>(micros % 1000000);
  stamp.caplen = stamp.len = static_cast<bpf_u_int32>(HEADER_LENGTH + frame_bytes);
  pcap_dump(reinterpret_cast<u_char*>(dumper), &stamp, record.data());
}

void write_packet(vex_time_t time, const Header& header, const VEX_Msg& msg, uint8_t record_bytes,
                  uint16_t crc) {
  std::array<uint8_t, MSG_DATA_SIZE> frame{};
  const std::size_t bytes = std::min<std::size_t>(record_bytes, MSG_DATA_SIZE - 2);
  std::memcpy(frame.data(), &msg, bytes);
  put_u16(&frame[bytes], crc);
  write(time, header, std::span<const uint8_t>(frame.data(), bytes + 2));
}

void write_host_packet(vex_time_t time, uint16_t mote, Direction direction, const VEX_Msg& msg) {
  Header header;
  header.mote = mote;
  header.direction = direction;
  write_packet(time, header, msg, record_bytes_on_air(msg), msg.crc);
}

void close() {
  enabled = false;
  if (dumper != nullptr) {
    pcap_dump_close(dumper);  // flushes
    dumper = nullptr;
  }
  if (dead != nullptr) {
    pcap_close(dead);
    dead = nullptr;
  }
}

}  // namespace packet_trace

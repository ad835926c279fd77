#pragma once
// Reads a packet trace back for the tests: the classic pcap layout (a
// 24-byte file header, then a 16-byte header before each record), written
// out here independently of libpcap, so that a trace brelo writes is checked
// against the format itself.

#include <cstdint>
#include <cstring>
#include <fstream>
#include <iterator>
#include <optional>
#include <string>
#include <vector>

namespace support {

constexpr uint32_t PCAP_MAGIC_MICROSECONDS = 0xA1B2C3D4;
constexpr uint32_t LINKTYPE_USER0 = 147;

struct TraceRecord {
  int64_t micros = 0;  // the time stamp
  // The trace header, field by field.
  uint8_t header_length = 0, version = 0;
  uint16_t mote = 0;
  uint8_t direction = 0, crc = 0, collision = 0, senders = 0;
  std::vector<uint8_t> frame;  // the bytes after the header
};

struct TraceFile {
  uint32_t magic = 0;
  uint32_t link_type = 0;
  std::vector<TraceRecord> records;
  bool whole = true;  // false: the file ends inside a record
};

inline uint32_t le32(const uint8_t* p) {
  return p[0] | (p[1] << 8) | (p[2] << 16) | (static_cast<uint32_t>(p[3]) << 24);
}
inline uint16_t le16(const uint8_t* p) { return static_cast<uint16_t>(p[0] | (p[1] << 8)); }

// nullopt when the file is missing or shorter than its file header.
inline std::optional<TraceFile> read_trace(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return std::nullopt;
  std::vector<uint8_t> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  if (bytes.size() < 24) return std::nullopt;
  TraceFile file;
  file.magic = le32(&bytes[0]);
  file.link_type = le32(&bytes[20]);
  std::size_t at = 24;
  while (at < bytes.size()) {
    if (bytes.size() - at < 16) return file.whole = false, file;
    const uint32_t seconds = le32(&bytes[at]), micros = le32(&bytes[at + 4]);
    const uint32_t captured = le32(&bytes[at + 8]);
    at += 16;
    if (bytes.size() - at < captured || captured < 8) return file.whole = false, file;
    const uint8_t* r = &bytes[at];
    TraceRecord record;
    record.micros = static_cast<int64_t>(seconds) * 1000000 + micros;
    record.header_length = r[0];
    record.version = r[1];
    record.mote = le16(&r[2]);
    record.direction = r[4];
    record.crc = r[5];
    record.collision = r[6];
    record.senders = r[7];
    record.frame.assign(r + 8, r + captured);
    file.records.push_back(std::move(record));
    at += captured;
  }
  return file;
}

}  // namespace support

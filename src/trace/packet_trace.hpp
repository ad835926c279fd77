#pragma once
// The packet trace: a pcap file (link type DLT_USER0) with one record per
// packet a mote puts on the air, per packet a mote's radio finishes
// receiving, and per serial packet between a mote and the host. Each record
// is a small header of our own followed by the frame, stamped with the
// virtual time in microseconds. tools/wireshark/brelo.lua decodes both.
//
// Header, 8 bytes (multi-byte fields little-endian, like every record of
// the motes):
//   0  uint8   header length (8)
//   1  uint8   version (1)
//   2  uint16  the mote that sent or received the packet
//   4  uint8   direction (Direction)
//   5  uint8   CRC (CrcStatus)
//   6  uint8   collision (Collision)
//   7  uint8   senders whose frames were on the air at the receiver during
//              the frame (radio_received only; 255 means 255 or more)
// The frame is the packet record as it travels: bytes 0 to 5 + n of the
// record, n being its data bytes on the air (length, at most 96), then its
// two crc bytes.
//
// Tracing is off unless a run opens a file. The radio and serial paths test
// `enabled` (one predictable branch) before doing anything else, so a run
// without a trace neither formats nor allocates for it. Simulation thread only.

#include <cstdint>
#include <span>
#include <string>

#include "kernel/vex_types.hpp"
#include "net/vex_msg.hpp"

namespace packet_trace {

enum class Direction : uint8_t {
  radio_sent = 0,        // the mote started sending it on the air
  radio_received = 1,    // the mote's radio finished receiving it
  serial_to_host = 2,    // the mote sent it out of its serial port
  serial_from_host = 3,  // the host handed it to the mote's serial port
  radio_from_host = 4,   // the host handed it to the mote as if its radio heard it
};

enum class CrcStatus : uint8_t {
  failed = 0,
  passed = 1,
  not_checked = 2,  // sent packets, serial packets and packets from the host
};

enum class Collision : uint8_t {
  no = 0,              // no other sender's frame was on the air at the receiver
  yes = 1,             // at least one other sender's frame was
  unknown = 2,         // no sender's frame could be matched to the reception
  not_applicable = 3,  // anything but a radio reception
};

constexpr uint8_t HEADER_LENGTH = 8;
constexpr uint8_t HEADER_VERSION = 1;

struct Header {
  uint16_t mote = 0;
  Direction direction = Direction::radio_sent;
  CrcStatus crc = CrcStatus::not_checked;
  Collision collision = Collision::not_applicable;
  uint8_t senders = 0;
};

// True while a trace file is open.
inline bool enabled = false;

// Creates (or truncates) the file and starts the trace. On failure returns
// false with the reason in `why` and tracing stays off.
bool open(const std::string& path, std::string& why);

// Appends one record stamped with virtual time `time` (ticks). Does nothing
// while no trace is open.
void write(vex_time_t time, const Header& header, std::span<const uint8_t> frame);

// Appends a record whose frame is the first `record_bytes` bytes of `msg`
// (at most 102) followed by `crc`, the two crc bytes as they travelled.
void write_packet(vex_time_t time, const Header& header, const VEX_Msg& msg, uint8_t record_bytes,
                  uint16_t crc);

// Appends a serial packet, or a packet the host handed to a mote, with
// the record's own crc field.
void write_host_packet(vex_time_t time, uint16_t mote, Direction direction, const VEX_Msg& msg);

// The record bytes a packet of this record takes on the air: the header,
// its data bytes (length, at most 96) and one byte more.
constexpr uint8_t record_bytes_on_air(const VEX_Msg& msg) {
  return static_cast<uint8_t>(LENGTH_BYTE_NUMBER + (msg.length < DATA_LENGTH ? msg.length : DATA_LENGTH) + 1);
}

// Writes out what is buffered and closes the file; tracing is then off.
// Safe to call when no trace is open.
void close();

}  // namespace packet_trace

#pragma once
// Per-mote counts of what a run did: frames on the air, serial packets,
// stream records and results. The counts live in one fixed table of
// VEXNODES rows, so counting on the event path is one increment: no
// allocation, no lock, no formatting. They survive a mote's reboot (they
// describe the whole run) and are cleared with the world.
//
// Where each count is taken is part of its meaning (docs/statistics.md):
//   packets_sent          a frame's acknowledgement window ended: the whole
//                         frame went out on the air (the radio's send done)
//   packets_received      the receiving radio decoded a frame up to its CRC
//                         field, whatever the check then says
//   packets_crc_failed    ... and that CRC did not match
//   packets_acknowledged  a sent frame whose acknowledgement was heard
//   serial_sent           a packet handed to the serial port (to the host)
//   serial_received       a packet the host put into the serial port
//   records_written       a record an operator wrote into a stream
//   records_read          a record a stream delivered to an operator
//   results               a result handed to the serial port by a serial
//                         output operator

#include <array>
#include <cstdint>

#include "kernel/vex_state.hpp"
#include "kernel/vex_types.hpp"

namespace run_stats {

enum Counter : uint8_t {
  packets_sent,
  packets_received,
  packets_crc_failed,
  packets_acknowledged,
  serial_sent,
  serial_received,
  records_written,
  records_read,
  results,
  COUNTER_COUNT
};

using MoteCounts = std::array<uint64_t, COUNTER_COUNT>;

// One row per mote; read them with counts_of.
extern std::array<MoteCounts, VEXNODES> table;

// Counts one for the running mote.
inline void count(Counter counter) { ++table[vex_state.current_node.load()][counter]; }

inline const MoteCounts& counts_of(int mote) { return table[mote]; }

// The name of a count in the statistics file ("packets_sent" ...).
const char* name_of(Counter counter);

}  // namespace run_stats

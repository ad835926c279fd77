#pragma once
// Per-mote capacities of the engine's tables and queues. A host planning
// queries checks against them before it sends anything, and the engine
// sizes its tables by them.

#include <cstdint>

namespace protocol {
constexpr int MAX_MOTES = 1000;  // motes of one simulation, ids 0 to 999

constexpr int OPERATOR_ENTRIES = 12;  // operators a mote holds
constexpr int OPEN_ENTRIES = 10;      // stream opens a mote holds
constexpr int OPEN_REQUESTS = 6;      // remote opens a mote can have pending
constexpr int READ_REQUESTS = 6;      // streams a mote can have reads outstanding on
constexpr int STREAM_ENTRIES = 4;     // streams of each kind (local, sensor, each remote side)
constexpr int CHANNELS = 4;           // channel-table entries (channels in and out)
constexpr int REMOTE_SOURCES = 4;     // motes sending to one reading remote stream
constexpr int NUM_TIMERS = 11;        // timers of a mote

// Results waiting for mote 0's serial port, and operator messages waiting
// there for the radio; a full queue drops the newest.
constexpr uint8_t SERIAL_QUEUE_LENGTH = 16;
constexpr uint8_t FORWARD_QUEUE_LENGTH = 8;
}  // namespace protocol

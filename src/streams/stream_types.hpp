#pragma once
// The error values the stream system reports, and the read requests its
// entries keep. Descriptors and records are part of the host contract.

#include <cstdint>

#include "protocol/limits.hpp"
#include "protocol/records.hpp"  // stream_type, record_type, TABLE_IDS

// Error values: returned by write, and as `no` of a failed open.
constexpr int8_t INVALID_DESCRIPTOR = -1;
constexpr int8_t STREAM_NOT_OPEN = -2;
constexpr int8_t SEND_FAIL = -3;
constexpr int8_t ILLEGAL_OPERATION = -4;

using protocol::STREAM_ENTRIES;  // entries per table and mote

// True when `no` names one of a table's entries.
constexpr bool valid_entry(int8_t no) { return no >= 0 && no < STREAM_ENTRIES; }

struct read_request {
  uint8_t nbytes;
};

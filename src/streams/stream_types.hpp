#pragma once
// Stream descriptors, the query engine's record, and the error values the
// stream system reports.

#include <cstdint>

enum TABLE_IDS : uint8_t {
  SRSDT_ID = 0,  // source side of remote streams
  DRSDT_ID = 1,  // destination side of remote streams
  LSDT_ID = 2,   // local streams
  SSDT_ID = 3,   // sensor streams
};

// Error values: returned by write, and as `no` of a failed open.
constexpr int8_t INVALID_DESCRIPTOR = -1;
constexpr int8_t STREAM_NOT_OPEN = -2;
constexpr int8_t SEND_FAIL = -3;
constexpr int8_t ILLEGAL_OPERATION = -4;

constexpr int STREAM_ENTRIES = 4;  // entries per table and mote

// Names one stream: which table, which entry (negative: no stream).
struct stream_type {
  uint8_t table_id;
  int8_t no;
};
static_assert(sizeof(stream_type) == 2);

// True when `no` names one of a table's entries.
constexpr bool valid_entry(int8_t no) { return no >= 0 && no < STREAM_ENTRIES; }

struct read_request {
  uint8_t nbytes;
};

// The query engine's record: up to ten two-byte fields, high byte first.
struct record_type {
  uint8_t numfields;
  union {
    int8_t data_fields[10][2];
    int8_t buffer[20];
  } data;
};
static_assert(sizeof(record_type) == 21);

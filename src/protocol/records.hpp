#pragma once
// The small records the engine's tables and messages are built of, in the
// layout of the little-endian 32-bit machine the engine was written for.

#include <cstdint>

// The tables a stream descriptor can name.
enum TABLE_IDS : uint8_t {
  SRSDT_ID = 0,  // source side of remote streams
  DRSDT_ID = 1,  // destination side of remote streams
  LSDT_ID = 2,   // local streams
  SSDT_ID = 3,   // sensor streams
};

// Names one stream: which table, which entry (negative: no stream).
struct stream_type {
  uint8_t table_id;
  int8_t no;
};
static_assert(sizeof(stream_type) == 2);

// The query engine's record: up to ten two-byte fields, high byte first.
struct record_type {
  uint8_t numfields;
  union {
    int8_t data_fields[10][2];
    int8_t buffer[20];
  } data;
};
static_assert(sizeof(record_type) == 21);

// A 64-bit time as two 32-bit words, high word first.
struct split_time {
  uint32_t high32;
  uint32_t low32;
};
static_assert(sizeof(split_time) == 8 && alignof(split_time) == 4);

#pragma once
// The ring of records shared by local, sensor and destination-side remote
// streams, with its queue of up to four waiting reads.
//
// A ring of capacity B has B + 1 slots. Reading never removes a record: the
// cursor moves on, and records stay until the ring drops the oldest to make
// room or the stream closes. Each record is its own heap block of exactly
// its length, owned by its slot.

#include <array>
#include <cstdint>
#include <memory>
#include <vector>

#include "streams/stream_types.hpp"

// The debug lines one kind of stream prints when it delivers records.
struct StreamTexts {
  const char* available;  // before a delivery from read
  const char* refused;    // read refused: four reads already waiting
  const char* queued;     // read stored until the next record
  const char* pending;    // before a delivery to a waiting read
};

struct StreamRing {
  uint8_t first = 0;           // slot of the oldest stored record
  uint8_t last = 0;            // slot where the next record goes
  uint8_t current_cursor = 0;  // slot of the next record for the reader
  uint8_t buffer_size = 0;     // capacity in records
  uint8_t data_counter = 0;    // records stored (not: unread)
  std::vector<std::unique_ptr<int8_t[]>> buffer;
  std::vector<uint8_t> buffer_elem_size;
  std::array<read_request, 4> read_requested{};
  uint8_t tail = 0;       // next free place in read_requested
  uint8_t head = 0;       // oldest waiting read
  uint8_t num_reads = 0;  // waiting reads, 0 to 4

  // An empty ring of the given capacity.
  void open_ring(uint8_t capacity);
  // Releases every record and the slot arrays.
  void release();
  bool has_new_record() const { return data_counter != 0 && current_cursor != last; }
};

// Where a delivered record goes: the stream's descriptor, its bytes, and the
// byte count handed over. Returns the reader's result.
using Deliver = uint8_t (*)(stream_type desc, int8_t* buf, uint8_t nbytes);

// Stores a record of n bytes, dropping the oldest when full, then serves one
// waiting read if any.
void ring_insert(StreamRing& ring, stream_type desc, const StreamTexts& texts,
                 const int8_t* record, uint8_t n, Deliver deliver);

// Delivers the next new record, or stores the read (FAIL when four wait).
// Returns the reader's result, SUCCESS for a stored read.
uint8_t ring_read(StreamRing& ring, stream_type desc, const StreamTexts& texts, uint8_t n,
                  Deliver deliver);

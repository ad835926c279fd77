#include "streams/stream_ring.hpp"

#include <algorithm>
#include <cstring>

#include "kernel/dbg.hpp"
#include "kernel/vex_state.hpp"

namespace {
uint8_t next_slot(const StreamRing& ring, uint8_t slot) {
  return static_cast<uint8_t>((slot + 1) % (ring.buffer_size + 1));
}

// Prints the delivery lines, moves the cursor on and hands the record over.
// The cursor moves before the reader runs, so a read or write the reader
// makes from its handler sees a consistent ring.
uint8_t deliver_next(StreamRing& ring, stream_type desc, uint8_t asked, Deliver deliver) {
  uint8_t slot = ring.current_cursor;
  int8_t* record = ring.buffer[slot].get();
  uint8_t stored = ring.buffer_elem_size[slot];
  if (dbg_active(DBG_AM)) {
    dbg(DBG_AM, "nodo %i\n", VEX_LOCAL_ADDRESS);
    dbg(DBG_AM, "entry = %i \n", desc.no);
    for (int i = 0; i < stored; ++i) dbg(DBG_AM, "buffer[%i][%i] = %i \n", slot, i, record[i]);
  }
  uint8_t k = std::min(asked, stored);
  ring.current_cursor = next_slot(ring, slot);
  return deliver(desc, record, k);
}
}  // namespace

void StreamRing::open_ring(uint8_t capacity) {
  first = last = current_cursor = data_counter = 0;
  tail = head = num_reads = 0;
  buffer_size = capacity;
  buffer.clear();
  buffer.resize(capacity + 1);
  buffer_elem_size.assign(capacity + 1, 0);
  read_requested = {};
}

void StreamRing::release() {
  buffer.clear();
  buffer.shrink_to_fit();
  buffer_elem_size.clear();
  buffer_elem_size.shrink_to_fit();
}

void ring_insert(StreamRing& ring, stream_type desc, const StreamTexts& texts,
                 const int8_t* record, uint8_t n, Deliver deliver) {
  uint8_t next = next_slot(ring, ring.last);
  if (ring.first == next && ring.data_counter == ring.buffer_size) {
    // Full: the oldest record goes, and an unread one is lost to the reader.
    if (ring.first == ring.current_cursor) ring.current_cursor = next_slot(ring, ring.current_cursor);
    ring.first = next_slot(ring, ring.first);
    --ring.data_counter;
    ring.buffer[next].reset();
  }
  auto copy = std::make_unique<int8_t[]>(n);
  if (n > 0) std::memcpy(copy.get(), record, n);
  ring.buffer[ring.last] = std::move(copy);
  ring.buffer_elem_size[ring.last] = n;
  ring.last = next_slot(ring, ring.last);
  ++ring.data_counter;

  if (ring.num_reads > 0) {
    uint8_t asked = ring.read_requested[ring.head].nbytes;
    ring.head = static_cast<uint8_t>((ring.head + 1) % 4);
    --ring.num_reads;
    dbg(DBG_AM, "%s", texts.pending);
    deliver_next(ring, desc, asked, deliver);
  }
}

uint8_t ring_read(StreamRing& ring, stream_type desc, const StreamTexts& texts, uint8_t n,
                  Deliver deliver) {
  if (ring.has_new_record()) {
    dbg(DBG_AM, "%s", texts.available);
    return deliver_next(ring, desc, n, deliver);
  }
  if (ring.num_reads == 4) {
    dbg(DBG_AM, "%s", texts.refused);
    return FAIL;
  }
  dbg(DBG_AM, "%s", texts.queued);
  ring.read_requested[ring.tail].nbytes = n;
  ring.tail = static_cast<uint8_t>((ring.tail + 1) % 4);
  ++ring.num_reads;
  return SUCCESS;
}

// The record-at-a-time operators: selection against a constant, selection
// between two fields, and projection of one or two fields.

#include <cstring>

#include "kernel/dbg.hpp"
#include "query/pellund_m.hpp"
#include "streams/ss_to_app.hpp"

namespace PellundM {
namespace {
// The line a passing record prints, by predicate; null for a predicate that
// passes nothing.
const char* pass_line(predicate_type predicate, uint16_t x, uint16_t y) {
  switch (predicate) {
    case EQUAL: return x == y ? "FILTRO = SUPERATO\n" : nullptr;
    case NOT_EQUAL: return x != y ? "FILTRO != SUPERATO\n" : nullptr;
    case GREATER: return x > y ? "FILTRO > SUPERATO\n" : nullptr;
    case GREATER_OR_EQUAL: return x >= y ? "FILTRO >= SUPERATO\n" : nullptr;
    case LESS: return x < y ? "FILTRO < SUPERATO\n" : nullptr;
    case LESS_OR_EQUAL: return x <= y ? "FILTRO <= SUPERATO\n" : nullptr;
  }
  return nullptr;
}

uint8_t record_bytes(const record_type& record) {
  return static_cast<uint8_t>(record.numfields * 2);
}

// Writes the whole record to `out` when x and y compare as the predicate asks.
void write_if_passing(stream_type out, const record_type& record, predicate_type predicate,
                      uint16_t x, uint16_t y) {
  const char* line = pass_line(predicate, x, y);
  if (line == nullptr) return;
  dbg(DBG_AM, "%s", line);
  SSToAppM::SSToApp_write(out, record.data.buffer, record_bytes(record));
}
}  // namespace

void select_c(stream_type stream_input, stream_type stream_output, record_type record,
              predicate_type predicate, uint8_t field, uint8_t value) {
  dbg(DBG_USR1, "S E L E C T _ C\n");
  // Installation refuses fields beyond the record; a record that somehow
  // names one passes nothing.
  if (field < MAX_FIELDS) write_if_passing(stream_output, record, predicate, field_value(record, field), value);
  request_next_record(stream_input, record_bytes(record),
                      "SELECT_C---rimuovo la richiesta di read dalla tabella read_requested \n");
}

void select_f(stream_type stream_input, stream_type stream_output, record_type record,
              predicate_type predicate, uint8_t field1, uint8_t field2) {
  dbg(DBG_AM, "S E L E C T _ F\n");
  if (field1 < MAX_FIELDS && field2 < MAX_FIELDS) {
    write_if_passing(stream_output, record, predicate, field_value(record, field1),
                     field_value(record, field2));
  }
  request_next_record(stream_input, record_bytes(record));
}

void projection(stream_type stream_input, stream_type stream_output, record_type record,
                uint8_t field1, uint8_t field2) {
  dbg(DBG_AM, "P R O J E C T I O N\n");
  // NO_FIELD (and, defensively, any index beyond the record) is no field.
  const bool has1 = field1 < MAX_FIELDS;
  const bool has2 = field2 < MAX_FIELDS;
  if (!has1 && !has2) return;  // nothing to project: the operator stops reading

  int8_t out[4];
  uint8_t n = 0;
  for (uint8_t f : {field1, field2}) {
    if (f >= MAX_FIELDS) continue;
    std::memcpy(out + n, record.data.data_fields[f], 2);
    n = static_cast<uint8_t>(n + 2);
  }
  SSToAppM::SSToApp_write(stream_output, out, n);
  request_next_record(stream_input, record_bytes(record));
}
}  // namespace PellundM

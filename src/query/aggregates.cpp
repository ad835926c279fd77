// The aggregate operators.
//
// Pair aggregates (AVG_1/AVG_2, AVG_P1/AVG_P2, MAX_MIN_1/MAX_MIN_2) match the
// records of two streams A and B by timestamp: a record of B one tick older
// than the new A record, or an A record two ticks older than the new B
// record, makes a pair, and the pair's average or max/min is written to the
// second operator's output. Each operator holds the last record of its own
// stream in its working record until it is matched, dropped as stale by the
// partner, or flushed on its own by the next record of the same stream.
//
// Window aggregates (MAX_MIN_T, AVG_T) fold the records of one stream into
// an accumulator (the working record) and emit it once a record's epoch
// reaches the window's start epoch plus its length.
//
// All of them read the new record themselves. The dispatch hands them its
// first 20 bytes with zeros behind the record's end (aggregate_input), so a
// short record, such as an 8-byte sensor record, reads as zero-filled fields.

#include <algorithm>
#include <cstring>

#include "devices/leds_m.hpp"
#include "kernel/dbg.hpp"
#include "query/pellund_m.hpp"
#include "streams/ss_to_app.hpp"

namespace PellundM {
namespace {
// Pair outputs and held records, and window accumulators, are built from the
// first ten bytes of a record: address, timestamp, epoch, value and field 4.
constexpr uint8_t KEPT_BYTES = 10;
constexpr uint8_t AVERAGE_BYTES = 10;  // a matched average
constexpr uint8_t MAX_MIN_BYTES = 20;  // a matched max/min, and a held record flushed alone
constexpr uint8_t RESULT_BYTE = 6;     // the result goes into bytes 6 (high) and 7 (low)
constexpr uint8_t PAIR_COUNT = 2;      // count byte of a matched average
constexpr uint8_t ALONE_COUNT = 1;     // count byte of an A record flushed alone
constexpr uint8_t MAX_WINDOW_COUNT = 255;  // AVG_T counts its records in 8 bits

// The timestamp (field 1) of a record's bytes.
uint16_t timestamp(const int8_t* r) {
  return static_cast<uint16_t>(static_cast<uint8_t>(r[2]) << 8 | static_cast<uint8_t>(r[3]));
}
// The epoch: the low byte of field 2.
uint8_t epoch(const int8_t* r) { return static_cast<uint8_t>(r[5]); }
// The value of field f: its low byte. Installation refuses fields beyond the
// record; should one reach here, it reads as 0.
uint8_t low_byte(const int8_t* r, uint8_t f) {
  return f < MAX_FIELDS ? static_cast<uint8_t>(r[2 * f + 1]) : 0;
}
uint16_t field16(const int8_t* r, uint8_t f) {
  if (f >= MAX_FIELDS) return 0;
  return static_cast<uint16_t>(static_cast<uint8_t>(r[2 * f]) << 8 |
                               static_cast<uint8_t>(r[2 * f + 1]));
}
void set_field16(int8_t* r, uint8_t f, uint16_t v) {
  if (f >= MAX_FIELDS) return;
  r[2 * f] = static_cast<int8_t>(v >> 8);
  r[2 * f + 1] = static_cast<int8_t>(v & 0xFF);
}
void copy_field(int8_t* to, const int8_t* from, uint8_t f) {
  if (f < MAX_FIELDS) std::memcpy(to + 2 * f, from + 2 * f, 2);
}

// The new record as a procedure reads it: its first `n` bytes, zeros after.
RecordBytes first_bytes(const int8_t* buf, uint8_t n) {
  RecordBytes r{};
  if (buf != nullptr) std::memcpy(r.data(), buf, std::min(n, RECORD_BYTES));
  return r;
}

operator_table_entry* entry(uint8_t index) {
  return index < OPERATOR_ENTRIES ? &vars().operator_table[index] : nullptr;
}
bool holds_record(uint8_t index) {
  const operator_table_entry* e = entry(index);
  return e != nullptr && e->record.numfields != 0;
}
void clear_record(uint8_t index) {
  if (operator_table_entry* e = entry(index)) e->record = record_type{};
}
// The operator's working record becomes the first ten bytes of `r`.
void keep_record(uint8_t index, const int8_t* r) {
  operator_table_entry* e = entry(index);
  if (e == nullptr) return;
  e->record = record_type{};
  std::memcpy(e->record.data.buffer, r, KEPT_BYTES);
  e->record.numfields = MAX_FIELDS;
}

// Writes a record; false when the stream took no bytes.
bool written(stream_type out, const int8_t* bytes, uint8_t n) {
  return SSToAppM::SSToApp_write(out, bytes, n) > 0;
}

// The output of a matched pair of averages: bytes 0-9 of the A record, the
// count 2 in byte m3, and the result (none for an unknown kind) in bytes 6-7.
RecordBytes average_record(const int8_t* a, uint8_t m3, const uint16_t* result) {
  RecordBytes out{};
  std::memcpy(out.data(), a, KEPT_BYTES);
  out[RESULT_BYTE] = out[RESULT_BYTE + 1] = 0;
  if (m3 < KEPT_BYTES) out[m3] = PAIR_COUNT;
  if (result != nullptr) set_field16(out.data(), RESULT_BYTE / 2, *result);
  return out;
}

// The output of a matched max/min pair: bytes 0-9 of the A record with
// bytes 6-7 replaced by the winning field. Ties go to B.
RecordBytes max_min_record(const int8_t* a, const int8_t* b, aggregate_kind type, uint8_t field1,
                           uint8_t field2) {
  const uint8_t va = low_byte(a, field1);
  const uint8_t vb = low_byte(b, field2);
  const bool a_wins = type == MAXIMUM ? va > vb : type == MINIMUM ? va < vb : false;
  const int8_t* winner = a_wins ? a : b;
  const uint8_t f = a_wins ? field1 : field2;
  RecordBytes out{};
  std::memcpy(out.data(), a, KEPT_BYTES);
  out[RESULT_BYTE] = f < MAX_FIELDS ? winner[2 * f] : 0;
  out[RESULT_BYTE + 1] = f < MAX_FIELDS ? winner[2 * f + 1] : 0;
  return out;
}

// A matched pair goes out, and the partner's held record is used up by it.
void emit_match(stream_type output, uint8_t partner, const RecordBytes& out, uint8_t n) {
  LedsM::greenToggle();
  clear_record(partner);
  SSToAppM::SSToApp_write(output, out.data(), n);
}

// Multiplicity of an input in a matched average: 1 when its constant is set,
// 0 when it is not (nothing was counted for it).
int multiplicity(uint8_t m) { return m != 0 ? 1 : 0; }

// Opens a window with `n` as its first record.
void open_window(operator_table_entry& e, const int8_t* n) {
  e.record = record_type{};
  std::memcpy(e.record.data.buffer, n, KEPT_BYTES);
  e.record.numfields = MAX_FIELDS;
  e.constant3 = epoch(n);
}

// The window closes with the record whose epoch is its start plus its
// length; the sum is on integers, so a window whose end would pass 255
// never closes by epoch.
bool closes_window(const operator_table_entry& e, const int8_t* n, uint8_t length) {
  return static_cast<int>(epoch(n)) == static_cast<int>(length) + e.constant3;
}

// Emits the accumulator and closes the window.
void emit_window(operator_table_entry& e, stream_type out) {
  RecordBytes w{};
  std::memcpy(w.data(), e.record.data.buffer, KEPT_BYTES);
  e.record = record_type{};
  LedsM::greenToggle();
  SSToAppM::SSToApp_write(out, w.data(), KEPT_BYTES);
}

// AVG_T: the accumulator's field becomes the average, and it is emitted.
void emit_average(operator_table_entry& e, stream_type out, uint8_t field) {
  const uint8_t count = e.constant;
  const uint16_t sum = field16(e.record.data.buffer, field);
  const uint16_t average = count != 0 ? static_cast<uint16_t>(sum / count) : sum;
  set_field16(e.record.data.buffer, field, average);
  dbg(DBG_USR1, "  AVG T..Media prima di inviare.%i \n", average);
  emit_window(e, out);
}
}  // namespace

RecordBytes aggregate_input(stream_type s, const int8_t* buf, uint8_t nbytes) {
  // The stream system hands over the stored record but counts only the bytes
  // the read asked for, and the pair aggregates ask for none. The record's
  // own length is the one its ring slot stores; a record that comes from no
  // ring (an on-demand sample) is as long as what was delivered.
  uint8_t length = nbytes;
  const StreamRing* ring = nullptr;
  if (valid_entry(s.no)) {
    SSToAppM::Vars& ss = SSToAppM::vars();
    switch (s.table_id) {
      case LSDT_ID: ring = &ss.local_table[s.no]; break;
      case SSDT_ID: ring = &ss.sensor_table[s.no]; break;
      case DRSDT_ID: ring = &ss.dest_remote_table[s.no]; break;
      default: break;
    }
  }
  if (ring != nullptr && buf != nullptr) {
    for (std::size_t slot = 0; slot < ring->buffer.size(); ++slot) {
      if (ring->buffer[slot].get() == buf && slot < ring->buffer_elem_size.size()) {
        length = ring->buffer_elem_size[slot];
        break;
      }
    }
  }
  return first_bytes(buf, length);
}

void average_1(PairAggregate p, int8_t* buf, uint8_t nbytes) {
  const RecordBytes n = first_bytes(buf, RECORD_BYTES);
  dbg(DBG_USR1, " A V E R A G E  1 \n");

  // Our previous A record found no partner: it goes out alone, marked 1.
  if (holds_record(p.first.index)) {
    LedsM::greenToggle();
    int8_t* alone = p.first.record.data.buffer;
    if (p.m3 < RECORD_BYTES) alone[p.m3] = ALONE_COUNT;
    clear_record(p.first.index);
    if (!written(p.output, alone, RECORD_BYTES)) {
      dbg(DBG_USR1, " A V E R A G E  1...scrittura del record 1 fallita \n");
    }
  }

  const uint8_t va = low_byte(n.data(), p.field1);
  const int ts_n = timestamp(n.data());
  if (p.second.record.numfields != 0) {
    const int8_t* h = p.second.record.data.buffer;
    const uint8_t vb = low_byte(h, p.field2);
    const int ts_h = timestamp(h);
    if (ts_n == ts_h + 1) {
      dbg(DBG_USR1, "I timestamp %i e %i sono uguali \n", ts_n, ts_h);
      dbg(DBG_USR1, "AVERAGE 1 ...molteplicita record_1 %i\n", multiplicity(p.m1));
      dbg(DBG_USR1, "AVERAGE 1 ...molteplicita record_2 %i\n", multiplicity(p.m2));
      uint16_t result = 0;
      const uint16_t* computed = nullptr;
      if (p.kind == PARTIAL_AVERAGE) {
        result = static_cast<uint16_t>(va + vb);
        dbg(DBG_USR1, " A V E R A G E  1 PARTIAL...valore di data e' %i \n", result);
        computed = &result;
      } else if (p.kind == FINAL_AVERAGE) {
        result = static_cast<uint16_t>((va + vb) / 2);
        dbg(DBG_USR1, " A V E R A G E  1 FINAL...valore di data e' %i \n", result);
        computed = &result;
      }
      const RecordBytes out = average_record(n.data(), p.m3, computed);
      emit_match(p.output, p.second.index, out, AVERAGE_BYTES);
    } else if (ts_h + 1 < ts_n) {
      dbg(DBG_USR1, "Il timestamp (ts_2) %i e' minore del (ts_1) %i \n", ts_h, ts_n);
      clear_record(p.second.index);
    } else {
      dbg(DBG_USR1, "AVERAGE 1 ....Sto copiando nel rec_1 perche i timestamp sono diversi\n");
    }
  }

  keep_record(p.first.index, n.data());
  request_next_record(p.input, nbytes);
}

void average_2(PairAggregate p, int8_t* buf, uint8_t nbytes) {
  const RecordBytes n = first_bytes(buf, RECORD_BYTES);
  dbg(DBG_USR1, "  A V E R A G E  2 \n");

  // Our previous B record found no partner: it goes out alone, as held.
  if (holds_record(p.second.index)) {
    LedsM::greenToggle();
    const uint8_t size = std::min(p.second.record.numfields, RECORD_BYTES);
    clear_record(p.second.index);
    if (!written(p.output, p.second.record.data.buffer, size)) {
      dbg(DBG_USR1, " A V E R A G E  2...scrittura del record 2 fallita \n");
    }
  }

  const uint8_t vb = low_byte(n.data(), p.field2);
  const int ts_n = timestamp(n.data());
  if (p.first.record.numfields != 0) {
    const int8_t* h = p.first.record.data.buffer;
    const uint8_t va = low_byte(h, p.field1);
    const int ts_h = timestamp(h);
    if (ts_n == ts_h + 2) {
      dbg(DBG_USR1, "I timestamp del record2 %i e del record1 %i sono uguali \n", ts_n, ts_h);
      dbg(DBG_USR1, "AVERAGE 2 ...molteplicita record_1 %i\n", multiplicity(p.m1));
      dbg(DBG_USR1, "AVERAGE 2 ...molteplicita record_2 %i\n", multiplicity(p.m2));
      uint16_t result = 0;
      const uint16_t* computed = nullptr;
      if (p.kind == PARTIAL_AVERAGE) {
        result = static_cast<uint16_t>(va + vb);
        dbg(DBG_USR1, " A V E R A G E  2 PARTIAL...valore di data e' %i \n", result);
        dbg(DBG_USR1, "Il valore della media e' %i  \n", result);
        computed = &result;
      } else if (p.kind == FINAL_AVERAGE) {
        result = static_cast<uint16_t>((va + vb) / 2);
        dbg(DBG_USR1, " A V E R A G E  2 FINAL...valore di data e' %i \n", result);
        dbg(DBG_USR1, "Il valore della media e' %i  \n", result);
        computed = &result;
      }
      const RecordBytes out = average_record(h, p.m3, computed);
      emit_match(p.output, p.first.index, out, AVERAGE_BYTES);
    } else if (ts_h + 2 < ts_n) {
      dbg(DBG_USR1, "Il timestamp ts_1 e' minore  del ts_2 \n");
      clear_record(p.first.index);
    } else {
      dbg(DBG_USR1, "I timestamp %i e %i sono diversi \n", ts_h, ts_n);
    }
  }

  keep_record(p.second.index, n.data());
  // A B record held alone carries a count of 1 in byte 2 * m2 unless it
  // already has something there.
  if (operator_table_entry* e = entry(p.second.index); e != nullptr && 2 * p.m2 < RECORD_BYTES) {
    int8_t& count = e->record.data.buffer[2 * p.m2];
    if (count == 0) count = 1;
  }
  request_next_record(p.input, nbytes);
}

void max_min_1(PairAggregate p, int8_t* buf, uint8_t nbytes) {
  const RecordBytes n = first_bytes(buf, RECORD_BYTES);
  dbg(DBG_USR1, " MAX MIN 1 \n");

  if (holds_record(p.first.index)) {
    LedsM::greenToggle();
    const uint8_t size = static_cast<uint8_t>(std::min(p.first.record.numfields, MAX_FIELDS) * 2);
    clear_record(p.first.index);
    if (!written(p.output, p.first.record.data.buffer, size)) {
      dbg(DBG_USR1, " MAX MIN 1..scrittura del record 1 fallita \n");
    }
  }

  const int ts_n = timestamp(n.data());
  if (p.second.record.numfields != 0) {
    const int8_t* h = p.second.record.data.buffer;
    const int ts_h = timestamp(h);
    if (ts_n == ts_h + 1) {
      dbg(DBG_USR1, "MAX MIN 1....I timestamp %i e %i sono uguali \n", ts_n, ts_h);
      const RecordBytes out = max_min_record(n.data(), h, p.kind, p.field1, p.field2);
      emit_match(p.output, p.second.index, out, MAX_MIN_BYTES);
    } else if (ts_h + 1 < ts_n) {
      dbg(DBG_USR1, "MAX MIN 1...Il timestamp (ts_2) %i e' minore del (ts_1) %i \n", ts_h, ts_n);
      clear_record(p.second.index);
    } else {
      dbg(DBG_USR1, "MAX MIN 1....Sto copiando nel rec_1 perche i timestamp sono diversi\n");
    }
  }

  keep_record(p.first.index, n.data());
  request_next_record(p.input, nbytes);
}

void max_min_2(PairAggregate p, int8_t* buf, uint8_t nbytes) {
  const RecordBytes n = first_bytes(buf, RECORD_BYTES);
  dbg(DBG_USR1, "  MAX MIN 2 \n");

  if (holds_record(p.second.index)) {
    LedsM::greenToggle();
    const uint8_t size = static_cast<uint8_t>(std::min(p.second.record.numfields, MAX_FIELDS) * 2);
    clear_record(p.second.index);
    if (!written(p.output, p.second.record.data.buffer, size)) {
      dbg(DBG_USR1, " MAX MIN 2..scrittura del record 2 fallita \n");
    }
  }

  const int ts_n = timestamp(n.data());
  if (p.first.record.numfields != 0) {
    const int8_t* h = p.first.record.data.buffer;
    const int ts_h = timestamp(h);
    if (ts_n == ts_h + 2) {
      dbg(DBG_USR1, "MAX MIN 2..I timestamp del record2 %i e del record1 %i sono uguali \n", ts_n,
          ts_h);
      const RecordBytes out = max_min_record(h, n.data(), p.kind, p.field1, p.field2);
      emit_match(p.output, p.first.index, out, MAX_MIN_BYTES);
    } else if (ts_h + 2 < ts_n) {
      dbg(DBG_USR1, "MAX MIN 2..Il timestamp ts_1 e' minore  del ts_2 \n");
      clear_record(p.first.index);
    } else {
      dbg(DBG_USR1, "MAX MIN 2...I timestamp %i e %i sono diversi \n", ts_h, ts_n);
    }
  }

  // The B side keeps the whole record, all twenty bytes.
  if (operator_table_entry* e = entry(p.second.index)) {
    e->record = record_type{};
    std::memcpy(e->record.data.buffer, n.data(), RECORD_BYTES);
    e->record.numfields = MAX_FIELDS;
  }
  request_next_record(p.input, nbytes);
}

void max_min_t(stream_type stream_input, stream_type stream_output, record_type record1,
               uint8_t field, aggregate_kind type, uint8_t index1, uint8_t* buf, uint8_t value) {
  // A window reads the first ten bytes of each record.
  const RecordBytes n = first_bytes(reinterpret_cast<const int8_t*>(buf), KEPT_BYTES);
  dbg(DBG_USR1, "  MAX MIN T \n");
  dbg(DBG_USR1, "  MAX MIN T..valre di value..%i \n", value);
  operator_table_entry* e = entry(index1);
  if (e != nullptr) {
    if (record1.numfields == 0) {
      open_window(*e, n.data());
      dbg(DBG_USR1, "  MAX MIN T..epoca alla prima iterazione..%i \n", e->constant3);
    } else {
      int8_t* w = e->record.data.buffer;
      const uint8_t v = low_byte(n.data(), field);
      const uint8_t held = low_byte(w, field);
      if (type == MAXIMUM && held < v) {
        copy_field(w, n.data(), field);
        dbg(DBG_USR1, "  MAX MIN T..data1 e' maggiore di data..%i \n", v);
      } else if (type == MINIMUM && v < held) {
        copy_field(w, n.data(), field);
        dbg(DBG_USR1, "  MAX MIN T..data1 e' minore di data..%i \n", v);
      }
      if (closes_window(*e, n.data(), value)) emit_window(*e, stream_output);
    }
  }
  request_next_record(stream_input, KEPT_BYTES);
}

void average_t(stream_type stream_input, stream_type stream_output, record_type record1,
               uint8_t field, uint8_t index1, uint8_t* buf, uint8_t value) {
  const RecordBytes n = first_bytes(reinterpret_cast<const int8_t*>(buf), KEPT_BYTES);
  dbg(DBG_USR1, "  AVG T \n");
  operator_table_entry* e = entry(index1);
  if (e != nullptr) {
    bool open_new = record1.numfields == 0;
    if (!open_new) {
      const uint32_t sum =
          uint32_t{field16(e->record.data.buffer, field)} + field16(n.data(), field);
      if (e->constant >= MAX_WINDOW_COUNT || sum > UINT16_MAX) {
        // The accumulator cannot take this record (the count is 8 bits, the
        // sum 16): the window closes with what it has, and the record opens
        // the next one.
        emit_average(*e, stream_output, field);
        open_new = true;
      } else {
        set_field16(e->record.data.buffer, field, static_cast<uint16_t>(sum));
        dbg(DBG_USR1, "  AVG T..somma..%i \n", static_cast<int>(sum));
        dbg(DBG_USR1, "  AVG T..count prima..%i \n", e->constant);
        ++e->constant;
        dbg(DBG_USR1, "  AVG T..count dopo..%i \n", e->constant);
        if (closes_window(*e, n.data(), value)) emit_average(*e, stream_output, field);
      }
    }
    if (open_new) {
      open_window(*e, n.data());
      e->constant = 1;
      dbg(DBG_USR1, "  AVG T..epoca alla prima iterazione..%i \n", e->constant3);
    }
  }
  request_next_record(stream_input, KEPT_BYTES);
}

bool aggregate_fields_acceptable(const OperatorMsg& m) {
  // Aggregates keep only a record's first ten bytes, so only its first five
  // fields can be compared or averaged.
  constexpr uint8_t kept_fields = KEPT_BYTES / 2;
  const bool fields_ok = m.field1 < kept_fields;
  switch (m.msg_type) {
    case AVG_1:
    case AVG_2:
    case AVG_P1:
    case AVG_P2:
      // constant3 names the count byte of the ten-byte output.
      return fields_ok && m.field2 < kept_fields && m.constant3 < KEPT_BYTES;
    case MAX_MIN_1:
    case MAX_MIN_2: return fields_ok && m.field2 < kept_fields;
    default: return fields_ok;  // the windows use field1 only
  }
}
}  // namespace PellundM

// The joins of two streams on their timestamps (field 1), which match when
// they differ by at most 3.
//
// A join is two operators: the outer one reads the outer stream and asks for
// inner records; the inner one receives them, finds its outer partner and
// joins the inner record with the partner's current record. The synchronous
// join reads one inner record per outer record; the merge join reads again
// whichever stream lags until the two match.
//
// A joined record is all the outer fields followed by the inner fields
// without the inner timestamp. It holds at most ten fields: longer joins
// keep their first ten.

#include <algorithm>
#include <cstring>

#include "devices/leds_m.hpp"
#include "kernel/dbg.hpp"
#include "query/pellund_m.hpp"
#include "streams/ss_to_app.hpp"

namespace PellundM {
namespace {
constexpr int MATCH_DISTANCE = 3;
constexpr uint8_t TIMESTAMP_FIELD = 1;

int timestamp(const record_type& r) {
  return static_cast<uint8_t>(r.data.buffer[2]) << 8 | static_cast<uint8_t>(r.data.buffer[3]);
}

bool same_open_stream(int8_t index, stream_type s) {
  const open_table_entry* e = open_entry(index);
  return e != nullptr && e->validity == 1 && same_stream(e->stream_desc, s);
}

// The first outer operator of `kind` that reads `outer` and names `inner`
// as its inner stream; -1 when there is none.
int outer_partner(uint32_t kind, stream_type outer, stream_type inner) {
  const auto& table = vars().operator_table;
  for (int k = 0; k < OPERATOR_ENTRIES; ++k) {
    const operator_table_entry& op = table[k];
    if (op.operator_ == kind && same_open_stream(op.stream_input1, outer) &&
        same_open_stream(op.stream_input2, inner)) {
      return k;
    }
  }
  return -1;
}

struct Joined {
  RecordBytes bytes{};
  uint8_t numfields = 0;
  bool cut = false;  // fields beyond the tenth were left out

  void add(const record_type& r, uint8_t f) {
    if (numfields == MAX_FIELDS) {
      cut = true;
      return;
    }
    std::memcpy(bytes.data() + 2 * numfields, r.data.data_fields[f], 2);
    ++numfields;
  }
};

Joined join_records(const record_type& outer, const record_type& inner) {
  Joined j;
  for (uint8_t f = 0; f < std::min(outer.numfields, MAX_FIELDS); ++f) j.add(outer, f);
  for (uint8_t f = 0; f < std::min(inner.numfields, MAX_FIELDS); ++f) {
    if (f != TIMESTAMP_FIELD) j.add(inner, f);
  }
  return j;
}

void write_joined(stream_type out, const record_type& outer, const record_type& inner) {
  const Joined j = join_records(outer, inner);
  if (j.cut) {
    dbg(DBG_ERROR, "PellundM: joined record of %u and %u fields cut to %u fields.\n",
        static_cast<unsigned>(outer.numfields), static_cast<unsigned>(inner.numfields),
        static_cast<unsigned>(MAX_FIELDS));
  }
  LedsM::greenToggle();
  SSToAppM::SSToApp_write(out, j.bytes.data(), static_cast<uint8_t>(2 * j.numfields));
}
}  // namespace

void sync_join_o(stream_type stream_outer, stream_type stream_inner, uint8_t nbytes_outer,
                 uint8_t nbytes_inner) {
  dbg(DBG_AM, "S Y N C   O U T E R   J O I N\n");
  // Without room to count the inner read the join stops: the outer stream
  // is not read again either.
  if (store_read_request(stream_inner) == -1) return;
  if (SSToAppM::SSToApp_read(stream_inner, nbytes_inner) == FAIL) {
    remove_read_request(stream_inner);
  }
  request_next_record(stream_outer, nbytes_outer);
}

void sync_join_i(stream_type stream_output, stream_type stream_outer, stream_type stream_inner,
                 record_type record_inner) {
  dbg(DBG_AM, "S Y N C   I N N E R   J O I N\n");
  const int k = outer_partner(SYNC_JOIN_O, stream_outer, stream_inner);
  if (k < 0) return;
  // Whatever outer record is there by now is the one joined.
  const record_type outer = vars().operator_table[k].record;
  const int ts_o = timestamp(outer);
  const int ts_i = timestamp(record_inner);
  if (ts_i + MATCH_DISTANCE < ts_o || ts_o + MATCH_DISTANCE < ts_i) {
    dbg(DBG_AM, "I timestamp %i e %i sono diversi: impossibile eseguire il join\n", ts_o, ts_i);
    return;
  }
  // No read here: the next outer record asks for the next inner one.
  write_joined(stream_output, outer, record_inner);
}

// The outer stream is read again by the inner side, once the records have
// matched or the outer one lags.
void merge_join_o(stream_type /*stream_outer*/, stream_type stream_inner, uint8_t nbytes_inner) {
  dbg(DBG_AM, "O U T E R   M E R G E   J O I N\n");
  request_next_record(stream_inner, nbytes_inner);
}

void merge_join_i(stream_type stream_output, stream_type stream_outer, stream_type stream_inner,
                  record_type record_inner, uint8_t nbytes_outer) {
  dbg(DBG_AM, "I N N E R   M E R G E   J O I N\n");
  const int k = outer_partner(MERGE_JOIN_O, stream_outer, stream_inner);
  if (k < 0) return;
  const record_type outer = vars().operator_table[k].record;
  const int ts_o = timestamp(outer);
  const int ts_i = timestamp(record_inner);
  if (ts_o + MATCH_DISTANCE < ts_i) {
    // The outer stream lags; its next record asks for a new inner one.
    dbg(DBG_USR1, "I timestamp %i e %i sono diversi: impossibile eseguire il join\n", ts_o, ts_i);
    request_next_record(stream_outer, nbytes_outer);
  } else if (ts_i + MATCH_DISTANCE < ts_o) {
    dbg(DBG_USR1, "I timestamp %i e %i sono diversi: impossibile eseguire il join\n", ts_o, ts_i);
    request_next_record(stream_inner, static_cast<uint8_t>(record_inner.numfields * 2));
  } else {
    write_joined(stream_output, outer, record_inner);
    request_next_record(stream_outer, nbytes_outer);
  }
}

// Joins name no fields, and a joined record too long to hold is cut when it
// is built, so every join operator can be installed.
bool join_acceptable(const OperatorMsg&) { return true; }
}  // namespace PellundM

// Reads and their completions: the count of outstanding reads per stream,
// and the dispatch of each completed read to the operators of its stream.

#include <algorithm>
#include <cstring>

#include "devices/leds_m.hpp"
#include "kernel/dbg.hpp"
#include "kernel/vex_state.hpp"
#include "query/pellund_m.hpp"
#include "streams/ss_to_app.hpp"

namespace PellundM {
namespace {
// The stream of the entry at `index` when the entry is in use; null otherwise.
const open_table_entry* used_entry(int8_t index) {
  const open_table_entry* e = open_entry(index);
  return (e != nullptr && e->validity == 1) ? e : nullptr;
}

bool reads_stream(const operator_table_entry& op, stream_type s) {
  const open_table_entry* in = used_entry(op.stream_input1);
  return in != nullptr && same_stream(in->stream_desc, s);
}

// The partner of a join or pair aggregate: the first operator of kind
// `kind` that reads the stream the running operator names as its second
// input. -1 when there is none.
int partner(uint32_t kind, int8_t stream_input2) {
  const open_table_entry* second = open_entry(stream_input2);
  if (second == nullptr) return -1;
  const auto& table = vars().operator_table;
  for (int k = 0; k < OPERATOR_ENTRIES; ++k) {
    if (table[k].operator_ == kind && reads_stream(table[k], second->stream_desc)) return k;
  }
  return -1;
}

// The partner of AVG_P1 and AVG_P2: the first operator of that kind.
int first_of_kind(uint32_t kind) {
  const auto& table = vars().operator_table;
  for (int k = 0; k < OPERATOR_ENTRIES; ++k) {
    if (table[k].operator_ == kind) return k;
  }
  return -1;
}

// The operator's working record becomes the delivered record.
void refresh(record_type& record, const int8_t* buf, uint8_t nbytes) {
  uint8_t size = std::min(nbytes, RECORD_BYTES);
  std::memset(record.data.buffer, 0, RECORD_BYTES);
  if (size > 0) std::memcpy(record.data.buffer, buf, size);
  record.numfields = static_cast<uint8_t>((size + 1) / 2);
}

uint8_t bytes_of(const operator_table_entry& op) {
  return static_cast<uint8_t>(op.record.numfields * 2);
}

// How one completion proceeds after an operator's row.
enum class Row { next, fail };

// ---- Trace lines shared by the rows, each with the operator's name.
void trace_read_done(const char* name) { dbg(DBG_USR1, "%s...readDone.\n", name); }
void trace_closed(const char* name) {
  dbg(DBG_USR1, "%s...stream di uscita non aperto o entrata vuota.\n", name);
}
void trace_output_closed(const char* name) {
  dbg(DBG_USR1, "%s...readDone...stream di uscita non aperto o entrata vuota.\n", name);
}
void trace_input_closed(const char* name) {
  dbg(DBG_USR1, "%s...readDone---stream di uscita non aperto o entrata vuota \n", name);
}
void trace_no_partner(const char* name) {
  dbg(DBG_USR1, "%s...nessuna entrata valida corrisponde allo stream 1 dell'average.\n", name);
}

// Only the first operator other than MIRROR on a stream runs on a record;
// `flag` says whether one has. Claims the record, or prints `busy_line`
// (when given) and refuses.
bool claim(bool& flag, const char* busy_line = nullptr) {
  if (flag) {
    if (busy_line != nullptr) dbg(DBG_USR1, "%s", busy_line);
    return false;
  }
  flag = true;
  return true;
}

// Whether the operator's output is open; says so under `name` when not.
bool output_open(const operator_table_entry& op, const char* name) {
  if (is_open(op.stream_output)) return true;
  trace_closed(name);
  return false;
}

// ---- Pair aggregates: AVG_1/AVG_2, AVG_P1/AVG_P2, MAX_MIN_1/MAX_MIN_2.
bool is_first_of_pair(uint32_t kind) {
  return kind == AVG_1 || kind == AVG_P1 || kind == MAX_MIN_1;
}
const char* pair_name(uint32_t kind) {
  switch (kind) {
    case AVG_1: return "AVG_1";
    case AVG_2: return "AVG_2";
    case AVG_P1: return "AVG_P1";
    case AVG_P2: return "AVG_P2";
    case MAX_MIN_1: return "MAX_MIN_1";
    default: return "MAX_MIN_2";
  }
}
// The partner entry of a pair operator; -1 when there is none. The partial
// averages pair with the first operator of the other kind.
int pair_partner(const operator_table_entry& op) {
  switch (op.operator_) {
    case AVG_1: return partner(AVG_2, op.stream_input2);
    case AVG_2: return partner(AVG_1, op.stream_input2);
    case AVG_P1: return first_of_kind(AVG_P2);
    case AVG_P2: return first_of_kind(AVG_P1);
    case MAX_MIN_1: return partner(MAX_MIN_2, op.stream_input2);
    default: return partner(MAX_MIN_1, op.stream_input2);
  }
}
aggregate_kind pair_kind(const operator_table_entry& op) {
  switch (op.operator_) {
    case AVG_1:
    case AVG_2: return FINAL_AVERAGE;
    case AVG_P1:
    case AVG_P2: return PARTIAL_AVERAGE;
    default: return op.constant == 1 ? MINIMUM : MAXIMUM;
  }
}

// Runs pair operator i (either side) on the new record `whole`. The first
// side checks for its partner before its second input, the second side
// after; results go to the second side's output.
Row run_pair(uint8_t i, RecordBytes& whole, uint8_t nbytes, bool& flag) {
  const operator_table_entry& op = vars().operator_table[i];
  const bool first = is_first_of_pair(op.operator_);
  const char* name = pair_name(op.operator_);
  trace_read_done(name);
  if (!claim(flag)) return Row::next;
  if (!is_open(op.stream_output)) {
    trace_output_closed(name);
    return Row::next;
  }
  if (!first && !is_open(op.stream_input2)) {
    trace_input_closed(name);
    return Row::next;
  }
  int k = pair_partner(op);
  if (k < 0) {
    trace_no_partner(name);
    return Row::fail;
  }
  if (first && !is_open(op.stream_input2)) {
    trace_input_closed(name);
    return Row::next;
  }
  const operator_table_entry& other = vars().operator_table[k];
  if (op.operator_ == AVG_1 || op.operator_ == AVG_2) {
    const char* self = first ? "rec_1" : "rec_2";
    const char* partner_side = first ? "rec_2" : "rec_1";
    dbg(DBG_USR1, " READDONE...valore di numfields del %s prima della procedura %i \n", self,
        op.record.numfields);
    dbg(DBG_USR1, " READDONE...valore di numfields del %s prima della procedura %i \n",
        partner_side, other.record.numfields);
  }
  const auto partner_index = static_cast<uint8_t>(k);
  PairAggregate p{};
  p.input = desc(op.stream_input2);
  p.output = desc(first ? other.stream_output : op.stream_output);
  p.first = first ? PairSide{i, op.record} : PairSide{partner_index, other.record};
  p.second = first ? PairSide{partner_index, other.record} : PairSide{i, op.record};
  p.kind = pair_kind(op);
  p.field1 = op.field1;
  p.field2 = op.field2;
  p.m1 = op.constant;
  p.m2 = op.constant2;
  p.m3 = op.constant3;
  const bool average = op.operator_ != MAX_MIN_1 && op.operator_ != MAX_MIN_2;
  if (average) {
    (first ? average_1 : average_2)(p, whole.data(), nbytes);
  } else {
    (first ? max_min_1 : max_min_2)(p, whole.data(), nbytes);
  }
  return Row::next;
}

// ---- Joins with a partner lookup.
Row run_sync_join_o(const operator_table_entry& op, stream_type s, uint8_t size, bool& flag) {
  trace_read_done("SYNC_JOIN_O");
  if (!claim(flag)) return Row::next;
  int k = partner(SYNC_JOIN_I, op.stream_input2);
  if (k < 0) return Row::fail;
  sync_join_o(s, desc(op.stream_input2), size, bytes_of(vars().operator_table[k]));
  return Row::next;
}

Row run_merge_join_i(const operator_table_entry& op, stream_type s, bool& flag) {
  trace_read_done("MERGE_JOIN_I");
  if (!claim(flag) || !is_open(op.stream_output) || !is_open(op.stream_input2)) return Row::next;
  int k = partner(MERGE_JOIN_O, op.stream_input2);
  if (k < 0) return Row::fail;
  merge_join_i(desc(op.stream_output), desc(op.stream_input2), s, op.record,
               bytes_of(vars().operator_table[k]));
  return Row::next;
}

Row run_merge_join_o(const operator_table_entry& op, stream_type s, bool& flag) {
  trace_read_done("MERGE_JOIN_O");
  if (!claim(flag)) return Row::next;
  LedsM::redToggle();
  int k = partner(MERGE_JOIN_I, op.stream_input2);
  if (k < 0) {
    dbg(DBG_USR1,
        "MERGE_JOIN_O...readDone---nessuna entrata valida corrisponde all'inner stream del "
        "join \n");
    return Row::fail;
  }
  if (!is_open(op.stream_input2)) {
    trace_input_closed("MERGE_JOIN_O");
    return Row::next;
  }
  merge_join_o(s, desc(op.stream_input2), bytes_of(vars().operator_table[k]));
  return Row::next;
}

// Runs the row of operator i for one completion of stream s. `flag` says
// whether an operator other than MIRROR has been given this record already.
// `whole` is the record as aggregates read it: its first 20 bytes, zeros
// behind its end.
Row run_row(uint8_t i, stream_type s, uint8_t nbytes, const RecordBytes& whole, bool& flag) {
  // The entry is read afresh after each call below: a nested completion may
  // have changed it, and the operator gets its record by value.
  operator_table_entry& op = vars().operator_table[i];
  uint8_t size = std::min(nbytes, RECORD_BYTES);
  switch (op.operator_) {
    case SELECT_C:
      if (!claim(flag, "flag a uno.\n") || !output_open(op, "SELECT_C")) break;
      trace_read_done("SELECT_c");
      select_c(s, desc(op.stream_output), op.record, op.predicate, op.field1, op.constant);
      break;
    case SELECT_F:
      trace_read_done("SELECT_F");
      if (claim(flag) && output_open(op, "SELECT_C")) {
        select_f(s, desc(op.stream_output), op.record, op.predicate, op.field1, op.field2);
      }
      break;
    case PROJECTION:
      trace_read_done("PROJECTION");
      if (claim(flag) && output_open(op, "PROJECTION")) {
        projection(s, desc(op.stream_output), op.record, op.field1, op.field2);
      }
      break;
    case SYNC_JOIN_I:
      trace_read_done("SYNC_JOIN_I");
      if (claim(flag) && is_open(op.stream_output) && is_open(op.stream_input2)) {
        sync_join_i(desc(op.stream_output), desc(op.stream_input2), s, op.record);
      }
      break;
    case SYNC_JOIN_O: return run_sync_join_o(op, s, size, flag);
    case MERGE_JOIN_I: return run_merge_join_i(op, s, flag);
    case MERGE_JOIN_O: return run_merge_join_o(op, s, flag);
    case SEND:
      trace_read_done("SEND");
      if (claim(flag) && is_open(op.stream_output)) {
        send(desc(op.stream_input1), desc(op.stream_output), op.record);
      }
      break;
    case MIRROR:
      // Runs on every completion of its input and leaves the flag alone.
      trace_read_done("MIRROR");
      if (output_open(op, "MIRROR")) mirror(desc(op.stream_output), op.record);
      break;
    case SERIAL_SEND:
      if (!claim(flag, "SERIAL_SEND...readDone....flag a 1.\n")) break;
      trace_read_done("SERIAL_SEND");
      // Only the base station has a host on its serial port.
      if (VEX_LOCAL_ADDRESS == 0) serial_send(desc(op.stream_input1), op.record, nbytes);
      break;
    case AVG_1:
    case AVG_2:
    case AVG_P1:
    case AVG_P2:
    case MAX_MIN_1:
    case MAX_MIN_2: {
      // Each pair side works on a copy of its own, as the rows before it did.
      RecordBytes pair_input = whole;
      return run_pair(i, pair_input, nbytes, flag);
    }
    case MAX_MIN_T:
      if (!claim(flag, "flag a uno.\n") || !output_open(op, "MAX_MIN_T")) break;
      trace_read_done("MAX_MIN_T");
      {
        RecordBytes window_input = whole;
        max_min_t(s, desc(op.stream_output), op.record, op.field1,
                  op.constant == 1 ? MAXIMUM : MINIMUM, i,
                  reinterpret_cast<uint8_t*>(window_input.data()), op.constant2);
      }
      break;
    case AVG_T:
      if (!claim(flag, "flag a uno.\n") || !output_open(op, "AVG_T")) break;
      trace_read_done("AVG_T");
      dbg(DBG_USR1, "AVG_T...readDone...valore di constant2..%i.\n", op.constant2);
      {
        RecordBytes window_input = whole;
        average_t(s, desc(op.stream_output), op.record, op.field1, i,
                  reinterpret_cast<uint8_t*>(window_input.data()), op.constant2);
      }
      break;
    default:
      break;
  }
  return Row::next;
}
}  // namespace

open_table_entry* open_entry(int8_t index) {
  if (index < 0 || index >= OPEN_ENTRIES) return nullptr;
  return &vars().open_table[index];
}

bool is_open(int8_t index) {
  const open_table_entry* e = open_entry(index);
  return e != nullptr && e->validity != 0 && e->stream_desc.no >= 0;
}

stream_type desc(int8_t index) {
  const open_table_entry* e = open_entry(index);
  return e != nullptr ? e->stream_desc : stream_type{0, INVALID_DESCRIPTOR};
}

bool same_stream(stream_type a, stream_type b) { return a.table_id == b.table_id && a.no == b.no; }

int8_t store_read_request(stream_type stream_desc) {
  dbg(DBG_USR1, " Sono nel metodo store_read_request.\n");
  auto& requests = vars().read_requested;
  int8_t free_index = -1;
  for (int8_t i = 0; i < READ_REQUESTS; ++i) {
    app_read_request& r = requests[i];
    if (r.stream_desc.no == -1) {
      if (free_index == -1) free_index = i;
      continue;
    }
    if (same_stream(r.stream_desc, stream_desc)) {
      ++r.num_reads;
      return i;
    }
  }
  if (free_index == -1) return -1;
  requests[free_index] = {stream_desc, 1};
  return free_index;
}

void remove_read_request(stream_type stream_desc) {
  dbg(DBG_USR1, " Sono nel metodo remove_read_request.\n");
  for (app_read_request& r : vars().read_requested) {
    if (r.stream_desc.no == -1 || !same_stream(r.stream_desc, stream_desc)) continue;
    if (r.num_reads != 0) --r.num_reads;
    if (r.num_reads == 0) r.stream_desc.no = -1;
    return;
  }
}

namespace {
bool read_counted(stream_type s) {
  const auto& requests = vars().read_requested;
  return std::any_of(requests.begin(), requests.end(), [&](const app_read_request& r) {
    return r.stream_desc.no != -1 && same_stream(r.stream_desc, s) && r.num_reads > 0;
  });
}

// An operator that met its output still unopened let its record go and
// stopped reading. Now that the output at `output` is open, every such
// operator whose input nobody reads asks for its next record again.
void resume_writers_of(int8_t output) {
  for (const operator_table_entry& op : vars().operator_table) {
    if (op.operator_ == NO_OPERATOR || op.operator_ == MIRROR || op.stream_output != output) {
      continue;
    }
    // Inner join operators are read by their outer partners.
    if (op.operator_ == SYNC_JOIN_I || op.operator_ == MERGE_JOIN_I) continue;
    const open_table_entry* in = open_entry(op.stream_input1);
    if (!is_open(op.stream_input1)) continue;
    if (in->sensor_tid != 0 && in->sampling_type == ON_DEMAND) continue;
    if (read_counted(in->stream_desc)) continue;
    request_next_record(in->stream_desc, bytes_of(op));
  }
}

// Completions nested inside one another on the simulation thread's stack.
// An acyclic query nests at most one level per record waiting in the
// stream its read started from (255) plus one per stream along its path.
// An operator that reads its own output (directly or round a cycle) would
// nest without end and overflow the stack, taking every mote with it; its
// next read is refused at this depth instead, and that query stops.
int completion_depth = 0;

struct CompletionLevel {
  CompletionLevel() { ++completion_depth; }
  ~CompletionLevel() { --completion_depth; }
  CompletionLevel(const CompletionLevel&) = delete;
  CompletionLevel& operator=(const CompletionLevel&) = delete;
};
}  // namespace

void request_next_record(stream_type s, uint8_t n, const char* refused_line) {
  if (completion_depth >= MAX_NESTED_COMPLETIONS) {
    dbg(DBG_ERROR,
        "PellundM: completions nested %d deep; the next read of stream %d (table %d) is refused: "
        "does an operator read its own output?\n",
        completion_depth, s.no, s.table_id);
    return;
  }
  if (store_read_request(s) == -1) return;
  // The count goes up before the read: the record may be delivered, and the
  // operator run again, from inside it.
  if (SSToAppM::SSToApp_read(s, n) == FAIL) {
    if (refused_line != nullptr) dbg(DBG_USR1, "%s", refused_line);
    remove_read_request(s);
  }
}

result_t SSToApp_readDone(stream_type stream_desc, int8_t* buf, uint8_t nbytes,
                          result_t success) {
  if (success != SUCCESS) return success;
  CompletionLevel level;
  dbg(DBG_USR1, "Sono nella ReadDone dopo SUCCESS.\n");
  const auto& requests = vars().read_requested;
  bool requested = std::any_of(requests.begin(), requests.end(), [&](const app_read_request& r) {
    return r.stream_desc.no != -1 && same_stream(r.stream_desc, stream_desc);
  });
  if (!requested) {
    dbg(DBG_USR1, "nessuna richiesta di lettura fatta per lo stream stream_desc.\n");
    return FAIL;
  }

  // `buf` points into the stream's ring, and an operator's write can make the
  // ring drop that very record (a cycle of streams feeding one another) while
  // later rows still need it. Every row works from copies taken now (rows
  // use at most a record's first 20 bytes).
  RecordBytes record{};
  if (nbytes > 0) std::memcpy(record.data(), buf, std::min(nbytes, RECORD_BYTES));
  RecordBytes whole{};
  const auto& ops = vars().operator_table;
  if (std::any_of(ops.begin(), ops.end(), [&](const operator_table_entry& op) {
        return is_aggregate(op.operator_) && reads_stream(op, stream_desc);
      })) {
    whole = aggregate_input(stream_desc, buf, nbytes);
  }

  // Every operator reading the stream gets its working record refreshed, but
  // only the first (besides any MIRROR) runs on it.
  bool flag = false;
  for (uint8_t i = 0; i < OPERATOR_ENTRIES; ++i) {
    operator_table_entry& op = vars().operator_table[i];
    if (op.operator_ == NO_OPERATOR || !reads_stream(op, stream_desc)) continue;
    if (!is_aggregate(op.operator_)) refresh(op.record, record.data(), nbytes);
    if (run_row(i, stream_desc, nbytes, whole, flag) == Row::fail) return FAIL;
  }
  remove_read_request(stream_desc);
  return success;
}

result_t SSToApp_openRemoteDone(stream_type stream_desc, uint8_t symbolic_name,
                                result_t success) {
  Vars& v = vars();
  if (success == SUCCESS) {
    dbg(DBG_USR1, " OPENREMOTEDONE .\n");
    bool requested = symbolic_name != 0 &&
                     std::any_of(v.open_requested.begin(), v.open_requested.end(),
                                 [&](const app_open_request& r) {
                                   return r.symbolic_name == symbolic_name;
                                 });
    if (!requested) return SUCCESS;

    for (int8_t e = 0; e < OPEN_ENTRIES; ++e) {
      open_table_entry& entry = v.open_table[e];
      if (entry.symbolic_name != symbolic_name || entry.validity != 1) continue;
      entry.stream_desc = stream_desc;
      if (entry.dest != VEX_LOCAL_ADDRESS) {
        resume_writers_of(e);
        break;
      }

      dbg(DBG_USR1, "OPENREMOTEDONE---completata l'apertura di un remote stream in lettura.\n");
      // The first installed operator reading the stream asks for its first record.
      auto reader = std::find_if(v.operator_table.begin(), v.operator_table.end(),
                                 [&](const operator_table_entry& op) {
                                   return op.operator_ != NO_OPERATOR && op.stream_input1 == e;
                                 });
      if (reader == v.operator_table.end()) {
        dbg(DBG_USR1,
            "OPENREMOTEDONE--nessuna entrata di OPERATOR_TABLE e' tale che stream_input1 = i.\n");
      } else if (reader->operator_ != SYNC_JOIN_I && reader->operator_ != MERGE_JOIN_I) {
        if (store_read_request(stream_desc) == -1) {
          dbg(DBG_USR1, "OPENREMOTEDONE---non e' stato possibile memorizzare la richiesta.\n");
        } else if (SSToAppM::SSToApp_read(stream_desc, bytes_of(*reader)) == FAIL) {
          dbg(DBG_USR1,
              "OPENREMOTEDONE---la lettura e' fallita, rimuovo la richiesta di read.\n");
          remove_read_request(stream_desc);
        }
      }
      break;
    }
  }
  if (symbolic_name != 0) {
    for (app_open_request& r : v.open_requested) {
      if (r.symbolic_name == symbolic_name) {
        r.symbolic_name = 0;
        break;
      }
    }
  }
  return SUCCESS;
}
}  // namespace PellundM

#pragma once
// The query engine every mote runs: the top of the component graph.
//
// A query is a set of stream opens and operators sharing a query id. Each
// operator message stores one open or one operator in the mote's tables, or
// starts a query (opens its streams, issues the first reads) or stops it
// (closes its streams, removes its operators). Mote 0, the base station,
// takes the messages from its serial port and forwards those meant for other
// motes over the radio.
//
// A running query is a chain of reads and completions: every record that
// completes a read runs at most one operator on its stream (plus any
// MIRROR), which writes its result and asks for the next record. Results
// leave a mote through a remote stream or, on mote 0, out of the serial port.
//
// Operators name streams by open-table index; an index outside 0-9 (such as
// -1, "no stream") never reaches the open table.

#include <array>
#include <cstddef>
#include <cstdint>

#include "kernel/vex_types.hpp"
#include "net/msg_ss.hpp"
#include "net/vex_msg.hpp"
#include "protocol/limits.hpp"
#include "protocol/operator_msg.hpp"
#include "protocol/operators.hpp"
#include "protocol/tables.hpp"
#include "kernel/bounded_queue.hpp"
#include "streams/stream_types.hpp"

namespace PellundM {
// The engine speaks the host's vocabulary: operator kinds, codes, limits and
// table entries come from the protocol headers.
using namespace protocol;

// A serial result on its way to the host: the MsgUART payload.
struct SerialResult {
  int8_t buffer[RECORD_BYTES];
};

struct Vars {
  std::array<operator_table_entry, OPERATOR_ENTRIES> operator_table;
  std::array<open_table_entry, OPEN_ENTRIES> open_table;
  std::array<app_open_request, OPEN_REQUESTS> open_requested;
  std::array<app_read_request, READ_REQUESTS> read_requested;
  uint8_t send_pending;        // a serial result send is in flight
  uint8_t radio_send_pending;  // a forwarded operator message is in flight
  VEX_Msg pkt;                 // the serial result being sent
  VEX_Msg gTxMsg;              // the operator message being forwarded

  // Results waiting for the serial port on mote 0, and operator messages
  // waiting for the radio: each leaves when the previous send has completed.
  BoundedQueue<SerialResult, SERIAL_QUEUE_LENGTH> serial_queue;
  BoundedQueue<VEX_Msg, FORWARD_QUEUE_LENGTH> forward_queue;
  uint16_t serial_dropped;   // results lost to a full serial queue
  uint16_t forward_dropped;  // operator messages lost to a full forward queue
  bool forward_task_posted;  // UARTRcvdTask waits in the task ring
  bool retry_armed;          // a retry of the waiting sends is scheduled
};
Vars& vars();  // the running mote's variables
Vars& vars_of(int mote);

// ---- Control and the interfaces the rest of the graph calls.
result_t StdControl_init();
result_t StdControl_start();
result_t StdControl_stop();

VEX_MsgPtr ReceiveMsgSerial_receive(VEX_MsgPtr msg);  // type 8
VEX_MsgPtr ReceiveMsgRadio_receive(VEX_MsgPtr msg);   // type 9
result_t SendMsgRadio_sendDone(VEX_MsgPtr msg, result_t success);   // type 9
result_t SendMsgSerial_sendDone(VEX_MsgPtr msg, result_t success);  // type 15

result_t SSToApp_readDone(stream_type stream_desc, int8_t* buf, uint8_t nbytes, result_t success);
result_t SSToApp_openRemoteDone(stream_type stream_desc, uint8_t symbolic_name, result_t success);

// ---- Installation.
// Decodes one operator message; null when a query start stopped early.
VEX_MsgPtr commandcode(VEX_MsgPtr pmsg);
void store_operator(uint8_t query_id, operator_type kind, int8_t stream_output,
                    int8_t stream_input1, int8_t stream_input2, predicate_type predicate,
                    uint8_t field1, uint8_t field2, uint8_t constant, uint8_t constant2,
                    uint8_t constant3, uint8_t numfields);
void store_open(uint8_t query_id, uint8_t symbolic_name, uint32_t stream_rate,
                uint32_t start_time, uint8_t reliability, uint8_t buffer_size, uint16_t dest,
                uint8_t sensor_tid, uint8_t sampling_type);
void UARTRcvdTask();
// Hands the oldest waiting operator message to the radio if none is in flight.
void forward_next();

// ---- Reads and dispatch.
int8_t store_read_request(stream_type stream_desc);  // index used, or -1
void remove_read_request(stream_type stream_desc);
// Counts a read of n bytes on `s` and issues it; a refused read is uncounted
// again, after printing `refused_line` (DBG_USR1) when one is given.
// Completions may nest this deep before a next read is refused.
constexpr int MAX_NESTED_COMPLETIONS = 512;
void request_next_record(stream_type s, uint8_t n, const char* refused_line = nullptr);

// The open entry at an open-table index; null for an index outside 0-9.
open_table_entry* open_entry(int8_t index);
// The entry is in use and its stream is open.
bool is_open(int8_t index);
// The descriptor of the entry at `index`; no = -1 for an index outside 0-9.
stream_type desc(int8_t index);
bool same_stream(stream_type a, stream_type b);

// ---- Record fields: field f is bytes 2f (high) and 2f + 1 (low) of data.
// The caller checks f < MAX_FIELDS.
inline uint16_t field_value(const record_type& r, uint8_t f) {
  return static_cast<uint16_t>(static_cast<uint8_t>(r.data.buffer[2 * f]) << 8 |
                               static_cast<uint8_t>(r.data.buffer[2 * f + 1]));
}

// ---- Selection and projection.
void select_c(stream_type stream_input, stream_type stream_output, record_type record,
              predicate_type predicate, uint8_t field, uint8_t value);
void select_f(stream_type stream_input, stream_type stream_output, record_type record,
              predicate_type predicate, uint8_t field1, uint8_t field2);
void projection(stream_type stream_input, stream_type stream_output, record_type record,
                uint8_t field1, uint8_t field2);

// ---- Output operators.
void send(stream_type stream_input, stream_type stream_output, record_type record);
void mirror(stream_type stream_output, record_type record);
void serial_send(stream_type stream_input, record_type record, uint8_t nbytes);
// Sends whatever waits for the serial port or the radio, if they are free;
// when something must wait and no completion of ours will come to send it,
// schedules a retry.
void pump_outputs();
// Empties both queues and forgets sends and retries of the mote's last life.
void reset_outputs();

// ---- Aggregates. `buf` holds the new record as aggregate_input gives it:
// 20 bytes, zeros behind the record's end.
using RecordBytes = std::array<int8_t, RECORD_BYTES>;
// The first 20 bytes of the record a completion of `s` delivered at `buf`,
// zeros behind its end. Its length is the one stored with it in its stream,
// not the `nbytes` the read asked for.
RecordBytes aggregate_input(stream_type s, const int8_t* buf, uint8_t nbytes);

// One side of a pair aggregate: its operator-table entry, and a copy of the
// working record it held when the running operator's row began.
struct PairSide {
  uint8_t index;
  record_type record;
};
// What a pair aggregate's procedure works on. `first` is the AVG_1, AVG_P1
// or MAX_MIN_1 side and `second` its partner, whichever of them runs.
struct PairAggregate {
  stream_type input;   // read next: the running operator's second input
  stream_type output;  // the second side's output, where results go
  PairSide first;
  PairSide second;
  aggregate_kind kind;
  uint8_t field1;  // compared or averaged field of the first side's records
  uint8_t field2;  // and of the second side's
  uint8_t m1;      // averages: whether each side counts (multiplicity) ...
  uint8_t m2;
  uint8_t m3;      // ... and the output byte that carries the count
};
void average_1(PairAggregate p, int8_t* buf, uint8_t nbytes);
void average_2(PairAggregate p, int8_t* buf, uint8_t nbytes);
void max_min_1(PairAggregate p, int8_t* buf, uint8_t nbytes);
void max_min_2(PairAggregate p, int8_t* buf, uint8_t nbytes);
// Window aggregates; `index1` is the operator's own entry.
void max_min_t(stream_type stream_input, stream_type stream_output, record_type record1,
               uint8_t field, aggregate_kind type, uint8_t index1, uint8_t* buf, uint8_t value);
void average_t(stream_type stream_input, stream_type stream_output, record_type record1,
               uint8_t field, uint8_t index1, uint8_t* buf, uint8_t value);
// Whether an aggregate's message names only fields and bytes its records
// have; a message that does not is refused at installation.
bool aggregate_fields_acceptable(const OperatorMsg& m);

// ---- Joins.
void sync_join_o(stream_type stream_outer, stream_type stream_inner, uint8_t nbytes_outer,
                 uint8_t nbytes_inner);
void sync_join_i(stream_type stream_output, stream_type stream_outer, stream_type stream_inner,
                 record_type record_inner);
void merge_join_o(stream_type stream_outer, stream_type stream_inner, uint8_t nbytes_inner);
void merge_join_i(stream_type stream_output, stream_type stream_outer, stream_type stream_inner,
                  record_type record_inner, uint8_t nbytes_outer);
// Whether a join operator's message can be installed.
bool join_acceptable(const OperatorMsg& m);
}  // namespace PellundM

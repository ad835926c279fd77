// Installing queries: the receive and forward paths of operator messages,
// the decoder, the tables of opens and operators, and query start and stop.

#include <algorithm>
#include <cstring>

#include "devices/leds_m.hpp"
#include "kernel/atomic.hpp"
#include "kernel/dbg.hpp"
#include "kernel/scheduler.hpp"
#include "kernel/vex_state.hpp"
#include "net/am_promiscuous.hpp"
#include "query/pellund_m.hpp"
#include "streams/ss_to_app.hpp"

namespace PellundM {
namespace {
bool field_in_record(uint8_t f) { return f < MAX_FIELDS; }
bool field_or_none(uint8_t f) { return f < MAX_FIELDS || f == NO_FIELD; }

// Operators read fields by index; one that names a field beyond a record's
// ten would read past the record, so it is not installed.
bool acceptable(const OperatorMsg& m, operator_type kind) {
  bool ok = true;
  switch (kind) {
    case SELECT_C: ok = field_in_record(m.field1); break;
    case SELECT_F: ok = field_in_record(m.field1) && field_in_record(m.field2); break;
    case PROJECTION: ok = field_or_none(m.field1) && field_or_none(m.field2); break;
    case SYNC_JOIN_I:
    case SYNC_JOIN_O:
    case MERGE_JOIN_I:
    case MERGE_JOIN_O: ok = join_acceptable(m); break;
    default:
      if (is_aggregate(kind) && !aggregate_fields_acceptable(m)) {
        dbg(DBG_ERROR,
            "PellundM: aggregate %u of query %u names a field beyond the ten bytes it keeps; not "
            "installed.\n",
            static_cast<unsigned>(kind), static_cast<unsigned>(m.query_id));
        return false;
      }
      break;
  }
  if (!ok) {
    dbg(DBG_ERROR, "PellundM: operator %u of query %u names a field outside the record; not installed.\n",
        static_cast<unsigned>(kind), static_cast<unsigned>(m.query_id));
  }
  return ok;
}

void install(const OperatorMsg& m, operator_type kind) {
  if (!acceptable(m, kind)) return;
  store_operator(m.query_id, kind, m.stream_output, m.stream_input1, m.stream_input2,
                 predicate_type{m.predicate}, m.field1, m.field2, m.constant, m.constant2,
                 m.constant3, m.numfields);
}

void fill_operator(operator_table_entry& e, uint8_t query_id, operator_type kind,
                   int8_t stream_output, int8_t stream_input1, int8_t stream_input2,
                   predicate_type predicate, uint8_t field1, uint8_t field2, uint8_t constant,
                   uint8_t constant2, uint8_t constant3) {
  e.query_id = query_id;
  e.operator_ = kind;
  e.stream_output = stream_output;
  e.stream_input1 = stream_input1;
  e.stream_input2 = stream_input2;
  e.predicate = predicate;
  e.field1 = field1;
  e.field2 = field2;
  e.constant = constant;
  e.constant2 = constant2;
  e.constant3 = constant3;
}

bool same_request(const app_open_request& r, const open_table_entry& e) {
  return r.symbolic_name == e.symbolic_name && r.stream_rate == e.stream_rate &&
         r.start_time.high32 == e.start_time.high32 && r.start_time.low32 == e.start_time.low32 &&
         r.reliability == e.reliability && r.buffer_size == e.buffer_size && r.dest == e.dest;
}

// Hands a remote open to the stream system. False when the start must stop:
// no room to remember the request, or the stream system refused it.
bool open_remote(const open_table_entry& e) {
  Vars& v = vars();
  auto free_request = std::find_if(v.open_requested.begin(), v.open_requested.end(),
                                   [](const app_open_request& r) { return r.symbolic_name == 0; });
  if (free_request == v.open_requested.end()) return false;
  *free_request = {e.symbolic_name, e.stream_rate, e.start_time,
                   e.reliability,   e.buffer_size, e.dest};
  result_t opened = SSToAppM::SSToApp_open_r(e.symbolic_name, e.stream_rate,
                                             from_split_time(e.start_time), e.reliability,
                                             e.buffer_size, e.dest);
  if (opened != FAIL) return true;
  for (app_open_request& r : v.open_requested) {
    if (same_request(r, e)) {
      r.symbolic_name = 0;
      break;
    }
  }
  return false;
}

// Opens the query's unopened streams, then issues one read for every
// operator of the query whose input can be read now. Null when it stopped
// early (no room for an open or read request, or a remote open refused).
VEX_MsgPtr start_query(VEX_MsgPtr pmsg, uint8_t q) {
  Vars& v = vars();
  for (open_table_entry& e : v.open_table) {
    if (e.validity == 0 || e.query_id != q || e.stream_desc.no >= 0) continue;
    if (e.sensor_tid != 0) {
      e.stream_desc =
          SSToAppM::SSToApp_open_s(e.sensor_tid, e.stream_rate, e.buffer_size, e.sampling_type);
    } else if (e.symbolic_name == 0) {
      e.stream_desc = SSToAppM::SSToApp_open_l(e.buffer_size);
    } else if (!open_remote(e)) {
      return nullptr;
    }
  }

  for (operator_table_entry& op : v.operator_table) {
    if (op.operator_ == NO_OPERATOR || op.query_id != q) continue;
    // The inner operators of joins are read by their outer partners.
    if (op.operator_ == SYNC_JOIN_I || op.operator_ == MERGE_JOIN_I) continue;
    const open_table_entry* in = open_entry(op.stream_input1);
    if (in == nullptr || in->validity == 0 || in->stream_desc.no < 0) continue;
    // On-demand sensors sample only when read; remote streams read here get
    // their first read when their open completes.
    if (in->sensor_tid != 0 && in->sampling_type == ON_DEMAND) continue;
    if (in->symbolic_name != 0 && in->dest == VEX_LOCAL_ADDRESS) continue;

    stream_type s = in->stream_desc;
    if (store_read_request(s) == -1) return nullptr;
    // A record already there runs the operator from inside this read.
    if (SSToAppM::SSToApp_read(s, static_cast<uint8_t>(op.record.numfields * 2)) == FAIL) {
      remove_read_request(s);
    }
  }
  return pmsg;
}

void stop_query(uint8_t q) {
  Vars& v = vars();
  for (open_table_entry& e : v.open_table) {
    if (e.validity == 0 || e.query_id != q) continue;
    bool open_in_progress = false;
    if (e.symbolic_name != 0) {
      for (app_open_request& r : v.open_requested) {
        if (r.symbolic_name == e.symbolic_name) {
          r.symbolic_name = 0;
          open_in_progress = true;
          break;
        }
      }
    }
    if (e.stream_desc.no < 0) {
      // A remote open still on its way is closed all the same, or the
      // stream would keep its name on this mote for good.
      if (open_in_progress) SSToAppM::SSToApp_close_r(e.symbolic_name, e.dest);
      // Never opened: detached from the query, but it keeps its index.
      e.query_id = 0;
      continue;
    }
    for (app_read_request& r : v.read_requested) {
      if (r.stream_desc.no >= 0 && same_stream(r.stream_desc, e.stream_desc)) {
        r.stream_desc.no = -1;
        r.num_reads = 0;
        break;
      }
    }
    SSToAppM::SSToApp_close(e.stream_desc);
    e.stream_desc.no = -1;
    e.validity = 0;
    e.query_id = 0;
  }
  for (operator_table_entry& op : v.operator_table) {
    if (op.operator_ == NO_OPERATOR || op.query_id != q) continue;
    op.operator_ = NO_OPERATOR;
    op.query_id = 0;
  }
}

// Keeps a copy of an operator message for another mote until the radio can
// take it. When the queue is full the new message is dropped.
void queue_forward(const VEX_Msg& msg) {
  Vars& v = vars();
  if (!v.forward_queue.push(msg)) {
    ++v.forward_dropped;
    dbg(DBG_ERROR, "PellundM: forward queue full, operator message for mote %u dropped.\n",
        static_cast<unsigned>(msg.addr));
    return;
  }
  if (v.forward_task_posted) return;
  if (VEX_post(UARTRcvdTask) == SUCCESS) {
    v.forward_task_posted = true;
  } else {
    pump_outputs();  // schedules a retry if the radio cannot take it now
  }
}
}  // namespace

VEX_MsgPtr ReceiveMsgSerial_receive(VEX_MsgPtr msg) {
  if (msg->addr == VEX_LOCAL_ADDRESS) return commandcode(msg);
  if (VEX_LOCAL_ADDRESS == 0) queue_forward(*msg);
  return msg;
}

VEX_MsgPtr ReceiveMsgRadio_receive(VEX_MsgPtr msg) {
  if (msg->addr == VEX_LOCAL_ADDRESS) return commandcode(msg);
  return msg;
}

void UARTRcvdTask() {
  vars().forward_task_posted = false;
  pump_outputs();
}

void forward_next() {
  Vars& v = vars();
  if (v.radio_send_pending != 0 || v.forward_queue.empty()) return;
  v.gTxMsg = v.forward_queue.front();
  v.gTxMsg.group = VEX_AM_GROUP;
  if (AMPromiscuous::SendMsg_send(AM_RADIOMSG, v.gTxMsg.addr, OPERATOR_MSG_LENGTH, &v.gTxMsg) ==
      SUCCESS) {
    v.forward_queue.pop();
    v.radio_send_pending = 1;
    LedsM::redToggle();
  } else {
    uint8_t atomic = __quil_atomic_start();
    v.radio_send_pending = 0;
    __quil_atomic_end(atomic);
  }
}

result_t SendMsgRadio_sendDone(VEX_MsgPtr msg, result_t success) {
  // Any completion leaves the radio free for the next message; a failed one
  // has lost its message.
  vars().radio_send_pending = 0;
  if (success != SUCCESS) {
    dbg(DBG_ERROR, "PellundM: forwarding to mote %u failed, operator message lost.\n",
        static_cast<unsigned>(msg->addr));
  }
  pump_outputs();
  return SUCCESS;
}

VEX_MsgPtr commandcode(VEX_MsgPtr pmsg) {
  OperatorMsg m;
  std::memcpy(&m, pmsg->data, sizeof m);
  LedsM::yellowToggle();
  const CommandCode* command = command_code(m.msg_type);
  if (command == nullptr) return pmsg;  // 0 and 24-255: nothing to do
  dbg(DBG_USR1, "%s", command->trace);
  switch (m.msg_type) {
    case CODE_OPEN_REMOTE:
      store_open(m.query_id, m.symbolic_name, m.stream_rate, m.start_time, m.reliability,
                 m.buffer_size, m.remote_stream_dest, 0, 0);
      break;
    case CODE_OPEN_LOCAL:
      store_open(m.query_id, 0, 0, 0, 0, m.buffer_size, 0, 0, 0);
      break;
    case CODE_OPEN_SENSOR:
      store_open(m.query_id, 0, m.stream_rate, 0, 0, m.buffer_size, 0, m.sensor_tid,
                 m.sampling_type);
      break;
    case CODE_START_QUERY:
      return start_query(pmsg, m.query_id);
    case CODE_STOP_QUERY:
      stop_query(m.query_id);
      break;
    default:
      if (command->installs == AVG_1 || command->installs == AVG_2) {
        dbg(DBG_USR1, " CommandCode---%s ..costante2 %i.\n",
            command->installs == AVG_1 ? "AVG_1" : "AVG_2", m.constant2);
      }
      install(m, command->installs);
      break;
  }
  return pmsg;
}

void store_operator(uint8_t query_id, operator_type kind, int8_t stream_output,
                    int8_t stream_input1, int8_t stream_input2, predicate_type predicate,
                    uint8_t field1, uint8_t field2, uint8_t constant, uint8_t constant2,
                    uint8_t constant3, uint8_t numfields) {
  dbg(DBG_USR1, " Sono nel metodo Store_Operator.\n");
  Vars& v = vars();
  // A record holds ten fields; asking for more would make the read size wrap.
  numfields = std::min(numfields, MAX_FIELDS);

  if (kind == SERIAL_SEND) {
    // At most one per mote: a new one replaces the old one in place.
    for (operator_table_entry& e : v.operator_table) {
      if (e.operator_ != SERIAL_SEND) continue;
      dbg(DBG_USR1, "Store_Operator----Trovato un operatore SERIAL_SEND.\n");
      fill_operator(e, query_id, kind, stream_output, stream_input1, stream_input2, predicate,
                    field1, field2, constant, constant2, constant3);
      e.record.numfields = numfields;
      return;
    }
  }

  auto free_entry = std::find_if(v.operator_table.begin(), v.operator_table.end(),
                                 [](const operator_table_entry& e) { return e.operator_ == 0; });
  if (free_entry == v.operator_table.end()) return;
  fill_operator(*free_entry, query_id, kind, stream_output, stream_input1, stream_input2,
                predicate, field1, field2, constant, constant2, constant3);
  // Aggregates start with no state; the others read numfields per record.
  free_entry->record.numfields = is_aggregate(kind) ? 0 : numfields;
  dbg(DBG_USR1, " STORE_OPERATOR..Valore di constant2 %i.\n", free_entry->constant2);
}

void store_open(uint8_t query_id, uint8_t symbolic_name, uint32_t stream_rate,
                uint32_t start_time, uint8_t reliability, uint8_t buffer_size, uint16_t dest,
                uint8_t sensor_tid, uint8_t sampling_type) {
  dbg(DBG_USR1, " SONO NEL METODO STORE_OPEN.\n");
  Vars& v = vars();
  auto free_entry = std::find_if(v.open_table.begin(), v.open_table.end(),
                                 [](const open_table_entry& e) { return e.validity == 0; });
  if (free_entry == v.open_table.end()) {
    dbg(DBG_USR1, "STORE_OPEN__la tabella open_table non ha entrate libere.\n");
    return;
  }
  open_table_entry& e = *free_entry;
  e.query_id = query_id;
  e.stream_desc.no = -1;
  e.symbolic_name = symbolic_name;
  e.stream_rate = stream_rate;
  e.start_time = {0, start_time};
  e.reliability = reliability;
  e.buffer_size = buffer_size;
  e.dest = dest;
  e.sensor_tid = sensor_tid;
  e.sampling_type = sampling_type;
  e.validity = 1;
}
}  // namespace PellundM

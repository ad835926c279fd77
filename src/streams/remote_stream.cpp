#include "streams/remote_stream.hpp"

#include <algorithm>
#include <cstring>
#include <memory>

#include "devices/leds_m.hpp"
#include "kernel/atomic.hpp"
#include "kernel/dbg.hpp"
#include "kernel/per_mote.hpp"
#include "kernel/run_stats.hpp"
#include "kernel/scheduler.hpp"
#include "kernel/vex_state.hpp"
#include "net/net_to_ssm.hpp"
#include "streams/ss_to_app.hpp"
#include "streams/stream_kinds.hpp"

namespace SSToAppM {
namespace {
PerMote<RemoteVars> remote;

const StreamTexts destination_texts = {
    "stream remoto lato destinatario --- dato disponibile -> segnalo readDone\n",
    "stream remoto lato destinatario --- buffer vuoto o nessun nuovo dato, impossibile "
    "memorizzare la READ\n",
    "stream remoto lato destinatario --- buffer vuoto o nessun nuovo dato, READ memorizzata\n",
    "stream remoto lato destinatario --- richieste di READ pendenti -> segnalo readDone\n",
};

// A failed completion names no stream.
constexpr stream_type NO_STREAM = {SRSDT_ID, INVALID_DESCRIPTOR};

uint8_t deliver(stream_type desc, int8_t* buf, uint8_t nbytes) {
  return signal_readDone(desc, buf, nbytes);
}

// The application has opened a destination entry once its ring exists; a
// capacity of 0 still has its one slot, so it counts as opened too.
bool app_opened(const DRSDT_Entry& e) { return !e.buffer.empty(); }

// A source slot's channel was opened by this source mote: channel ids are
// the source's address times 256 plus its table entry.
bool channel_of(channel_type channel_id, uint16_t src) { return (channel_id >> 8) == src; }

// Queues a completion and makes sure a task will signal it.
void record_completion(stream_type desc, uint8_t symbolic_name, result_t success) {
  RemoteVars& r = remote_vars();
  uint8_t atomic = __quil_atomic_start();
  r.openRemoteDone_stream_desc = desc;
  r.openRemoteDone_symbolic_name = symbolic_name;
  r.openRemoteDone_success = success;
  bool queued = r.completions_count < OPEN_COMPLETIONS;
  if (queued) {
    r.completions[(r.completions_head + r.completions_count) % OPEN_COMPLETIONS] = {
        desc, symbolic_name, success};
    ++r.completions_count;
  }
  __quil_atomic_end(atomic);
  if (!queued) {
    dbg(DBG_ERROR, "SSToAppM: too many open completions waiting, one is lost.\n");
    return;
  }
  // One task at a time works through the queue; if the task ring is full
  // the next completion recorded posts it again.
  if (!r.completion_task_posted && VEX_post(signalOpenDoneTask) == SUCCESS) {
    r.completion_task_posted = true;
  }
}

MsgSS stream_message(uint8_t msg_type, uint8_t symbolic_name) {
  MsgSS m{};
  m.msg_type = msg_type;
  m.src = VEX_LOCAL_ADDRESS;
  m.symbolic_name = symbolic_name;
  return m;
}

void release_copies(SRSDT_Entry& e) {
  e.buffer.clear();
  e.buffer.shrink_to_fit();
}

// The first source entry with this name, or -1.
int find_source(uint8_t symbolic_name) {
  if (symbolic_name == 0) return -1;
  const auto& table = vars().src_remote_table;
  for (int i = 0; i < STREAM_ENTRIES; ++i) {
    if (table[i].symbolic_name == symbolic_name) return i;
  }
  return -1;
}

// The first destination entry with this name, or -1.
int find_destination(uint8_t symbolic_name) {
  if (symbolic_name == 0) return -1;
  const auto& table = vars().dest_remote_table;
  for (int i = 0; i < STREAM_ENTRIES; ++i) {
    if (table[i].symbolic_name == symbolic_name) return i;
  }
  return -1;
}

// The free entry with the highest index, or -1.
template <typename Table>
int highest_free(const Table& table) {
  for (int i = STREAM_ENTRIES - 1; i >= 0; --i) {
    if (table[i].symbolic_name == 0) return i;
  }
  return -1;
}

// The connected source slot of `e` that sends on channel c from mote src, or -1.
int connected_slot(const DRSDT_Entry& e, channel_type c, uint16_t src) {
  for (int j = 0; j < STREAM_ENTRIES; ++j) {
    if ((e.src_validity & (1u << j)) != 0 && channel_of(e.channel_id[j], src) &&
        e.channel_id[j] == c) {
      return j;
    }
  }
  return -1;
}

result_t open_source(uint8_t symbolic_name, uint32_t stream_rate, vex_time_t start_time,
                     uint8_t reliability, uint8_t buffer_size, uint16_t dest) {
  if (find_source(symbolic_name) >= 0) return FAIL;
  int no = highest_free(vars().src_remote_table);
  if (no < 0) return FAIL;
  SRSDT_Entry& e = vars().src_remote_table[no];
  e.symbolic_name = symbolic_name;
  e.channel_id = -1;
  e.current_cursor = 0;
  e.buffer_size = buffer_size;

  RemoteVars& r = remote_vars();
  r.packet = stream_message(OPEN_SS, symbolic_name);
  r.packet.stream_rate = stream_rate;
  r.packet.start_time = to_split_time(start_time);
  r.packet.reliability = reliability;
  // The channel id is known at once, so the stream can be closed before its
  // open has completed: the CLOSE then follows the OPEN.
  if (NetToSSM::NetToSS_connect(stream_rate, start_time, sizeof(MsgSS), dest, &r.packet,
                                &e.channel_id) == FAIL) {
    e.symbolic_name = 0;
    e.buffer_size = 0;
    return FAIL;
  }
  // A capacity of 0 would be a copy ring without slots: no copies are kept.
  release_copies(e);
  if (reliability == 1 && buffer_size > 0) e.buffer.resize(buffer_size);
  return SUCCESS;
}

result_t open_destination(uint8_t symbolic_name, uint8_t buffer_size) {
  auto& table = vars().dest_remote_table;
  int no = find_destination(symbolic_name);
  if (no >= 0) {
    // Known from a source's OPEN_SS, unless the application opened it already.
    DRSDT_Entry& e = table[no];
    if (app_opened(e)) return FAIL;
    e.open_ring(buffer_size);
    record_completion({DRSDT_ID, static_cast<int8_t>(no)}, e.symbolic_name, SUCCESS);
    return SUCCESS;
  }
  no = highest_free(table);
  if (no < 0) return FAIL;
  DRSDT_Entry& e = table[no];
  e = DRSDT_Entry{};
  e.symbolic_name = symbolic_name;
  e.channel_id.fill(-1);
  e.open_ring(buffer_size);
  return SUCCESS;  // completes when the first source connects
}

void receive_open(channel_type c, const MsgSS& m) {
  dbg(DBG_AM, "stream remoto lato destinatario --- OPEN packet received\n");
  if (m.symbolic_name == 0) return;
  auto& table = vars().dest_remote_table;
  int no = find_destination(m.symbolic_name);
  if (no < 0) {
    int free_no = -1;
    for (int i = 0; i < STREAM_ENTRIES && free_no < 0; ++i) {
      if (table[i].symbolic_name == 0) free_no = i;
    }
    if (free_no < 0) return;
    // A stream the application has not opened yet: sources are tracked,
    // records are not kept.
    DRSDT_Entry& e = table[free_no];
    e = DRSDT_Entry{};
    e.symbolic_name = m.symbolic_name;
    e.channel_id.fill(-1);
    e.channel_id[0] = c;
    e.stream_rate[0] = m.stream_rate;
    e.src_validity = 1;
    e.reliability = m.reliability;
    e.src_counter = 1;
    return;
  }
  DRSDT_Entry& e = table[no];
  int slot = -1;
  for (int j = 0; j < STREAM_ENTRIES; ++j) {
    bool connected = (e.src_validity & (1u << j)) != 0;
    if (connected && channel_of(e.channel_id[j], m.src)) return;  // already connected
    if (!connected && slot < 0) slot = j;
  }
  if (slot < 0) return;  // four sources already
  e.channel_id[slot] = c;
  e.stream_rate[slot] = m.stream_rate;
  e.src_validity = static_cast<uint8_t>(e.src_validity | (1u << slot));
  e.reliability = static_cast<uint8_t>(e.reliability | (m.reliability << slot));
  ++e.src_counter;
  if (e.src_counter == 1) {
    record_completion({DRSDT_ID, static_cast<int8_t>(no)}, m.symbolic_name, SUCCESS);
  }
}

void receive_write(channel_type c, const MsgSS& m) {
  dbg(DBG_AM, "stream remoto lato destinatario --- WRITE packet received\n");
  int no = find_destination(m.symbolic_name);
  if (no < 0) return;
  DRSDT_Entry& e = vars().dest_remote_table[no];
  if (!app_opened(e) || connected_slot(e, c, m.src) < 0) return;
  // The size comes off the air: never trust it past the data it describes.
  uint8_t n = std::min<uint8_t>(m.data_size, MSG_SS_DATA);
  ring_insert(e, {DRSDT_ID, static_cast<int8_t>(no)}, destination_texts, m.data, n, deliver);
}

void receive_close(channel_type c, const MsgSS& m) {
  dbg(DBG_AM, "stream remoto lato destinatario --- CLOSE packet received\n");
  int no = find_destination(m.symbolic_name);
  if (no < 0) return;
  DRSDT_Entry& e = vars().dest_remote_table[no];
  int slot = connected_slot(e, c, m.src);
  if (slot < 0) return;
  e.src_validity = static_cast<uint8_t>(e.src_validity & ~(1u << slot));
  --e.src_counter;
}
}  // namespace

RemoteVars& remote_vars() { return remote(); }
RemoteVars& remote_vars_of(int mote) { return remote.of(mote); }

result_t SSToApp_open_r(uint8_t symbolic_name, uint32_t stream_rate, vex_time_t start_time,
                        uint8_t reliability, uint8_t buffer_size, uint16_t dest) {
  // Name 0 marks a free entry, so it cannot name a stream.
  if (symbolic_name == 0) return FAIL;
  if (dest == VEX_LOCAL_ADDRESS) return open_destination(symbolic_name, buffer_size);
  return open_source(symbolic_name, stream_rate, start_time, reliability, buffer_size, dest);
}

result_t NetToSS_connectDone(channel_type channel_id, MsgSSPtr msg, result_t success) {
  uint8_t symbolic_name = msg->symbolic_name;
  // The entry that opened this channel; none when the stream was closed
  // before its open completed.
  int no = find_source(symbolic_name);
  if (no >= 0 && vars().src_remote_table[no].channel_id != channel_id) no = -1;
  if (success == SUCCESS && no >= 0) {
    SRSDT_Entry& e = vars().src_remote_table[no];
    record_completion({SRSDT_ID, static_cast<int8_t>(no)}, e.symbolic_name, SUCCESS);
    return SUCCESS;
  }
  // Closed before its open completed: nobody waits for the completion, and a
  // later open of the same name must not take it for its own.
  if (no < 0 && success == SUCCESS) return SUCCESS;
  if (no >= 0) {
    SRSDT_Entry& e = vars().src_remote_table[no];
    e = SRSDT_Entry{};
    e.channel_id = -1;
  }
  record_completion(NO_STREAM, symbolic_name, FAIL);
  return SUCCESS;
}

MsgSSPtr NetToSS_receive(channel_type channel_id, MsgSSPtr m) {
  switch (m->msg_type) {
    case OPEN_SS: receive_open(channel_id, *m); break;
    case WRITE_SS: receive_write(channel_id, *m); break;
    case CLOSE_SS: receive_close(channel_id, *m); break;
    default: break;
  }
  return m;
}

void signalOpenDoneTask() {
  RemoteVars& r = remote_vars();
  uint8_t atomic = __quil_atomic_start();
  r.completion_task_posted = false;
  if (r.completions_count == 0) {
    __quil_atomic_end(atomic);
    return;
  }
  OpenCompletion done = r.completions[r.completions_head];
  r.completions_head = static_cast<uint8_t>((r.completions_head + 1) % OPEN_COMPLETIONS);
  --r.completions_count;
  __quil_atomic_end(atomic);
  if (r.completions_count > 0 && VEX_post(signalOpenDoneTask) == SUCCESS) {
    r.completion_task_posted = true;
  }
  signal_openRemoteDone(done.stream_desc, done.symbolic_name, done.success);
}

int8_t write_remote_source(stream_type desc, const int8_t* buf, uint8_t nbytes) {
  SRSDT_Entry& e = vars().src_remote_table[desc.no];
  if (e.symbolic_name == 0) return STREAM_NOT_OPEN;
  if (!e.buffer.empty()) {
    uint8_t slot = e.current_cursor;
    auto copy = std::make_unique<int8_t[]>(nbytes);
    if (nbytes > 0) std::memcpy(copy.get(), buf, nbytes);
    e.buffer[slot] = std::move(copy);
    if (dbg_active(DBG_AM)) {
      dbg(DBG_AM, "stream remoto lato sorgente\n");
      dbg(DBG_AM, "nodo %i\n", VEX_LOCAL_ADDRESS);
      dbg(DBG_AM, "entry = %i \n", desc.no);
      for (int i = 0; i < nbytes; ++i) dbg(DBG_AM, "buffer[%i][%i] = %i \n", slot, i, buf[i]);
    }
    e.current_cursor = static_cast<uint8_t>((slot + 1) % e.buffer_size);
  }

  RemoteVars& r = remote_vars();
  r.packet = stream_message(WRITE_SS, e.symbolic_name);
  r.packet.data_size = std::min<uint8_t>(nbytes, MSG_SS_DATA);
  if (r.packet.data_size > 0) std::memcpy(r.packet.data, buf, r.packet.data_size);
  if (NetToSSM::NetToSS_send(e.channel_id, &r.packet) == FAIL) {
    LedsM::greenToggle();
    return SEND_FAIL;
  }
  LedsM::yellowToggle();
  run_stats::count(run_stats::records_written);
  return static_cast<int8_t>(r.packet.data_size);
}

result_t read_remote_destination(stream_type desc, uint8_t nbytes) {
  DRSDT_Entry& e = vars().dest_remote_table[desc.no];
  if (e.symbolic_name == 0) return FAIL;
  dbg(DBG_AM, "stream remoto lato destinatario --- richiesta di READ\n");
  return ring_read(e, desc, destination_texts, nbytes, deliver);
}

result_t close_remote_source(stream_type desc) {
  SRSDT_Entry& e = vars().src_remote_table[desc.no];
  if (e.symbolic_name == 0) return FAIL;
  RemoteVars& r = remote_vars();
  r.packet = stream_message(CLOSE_SS, e.symbolic_name);
  // The channel layer queues the CLOSE behind whatever it is sending; it
  // refuses only a channel it no longer has (its open failed), and then
  // there is nothing left to close either.
  result_t closed = NetToSSM::NetToSS_disconnect(e.channel_id, &r.packet);
  e = SRSDT_Entry{};
  e.channel_id = -1;
  return closed;
}

result_t SSToApp_close_r(uint8_t symbolic_name, uint16_t dest) {
  const bool destination = dest == VEX_LOCAL_ADDRESS;
  int no = destination ? find_destination(symbolic_name) : find_source(symbolic_name);
  if (no < 0) return FAIL;
  if (destination && !app_opened(vars().dest_remote_table[no])) return FAIL;
  return SSToApp_close({destination ? DRSDT_ID : SRSDT_ID, static_cast<int8_t>(no)});
}

result_t close_remote_destination(stream_type desc) {
  DRSDT_Entry& e = vars().dest_remote_table[desc.no];
  if (e.symbolic_name == 0) return FAIL;
  e.symbolic_name = 0;
  e.release();
  return SUCCESS;
}
}  // namespace SSToAppM

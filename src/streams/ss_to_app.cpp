#include "streams/ss_to_app.hpp"

#include "devices/leds_m.hpp"
#include "devices/sensor_board.hpp"
#include "kernel/atomic.hpp"
#include "kernel/dbg.hpp"
#include "kernel/per_mote.hpp"
#include "kernel/run_stats.hpp"
#include "kernel/timer_m.hpp"
#include "net/net_to_ssm.hpp"
#include "streams/stream_kinds.hpp"

namespace SSToAppM {
namespace {
PerMote<Vars> ss;
Application application;

const StreamTexts local_texts = {
    "stream locale --- dato disponibile -> segnalo readDone\n",
    "stream locale --- buffer vuoto o nessun nuovo dato, impossibile memorizzare la READ\n",
    "stream locale --- buffer vuoto o nessun nuovo dato, READ memorizzata\n",
    "local stream --- richieste di READ pendenti -> segnalo readDone\n",
};

uint8_t deliver(stream_type desc, int8_t* buf, uint8_t nbytes) {
  return signal_readDone(desc, buf, nbytes);
}

void clear_tables(Vars& v) {
  for (SRSDT_Entry& e : v.src_remote_table) e = SRSDT_Entry{};
  for (SRSDT_Entry& e : v.src_remote_table) e.channel_id = -1;
  for (DRSDT_Entry& e : v.dest_remote_table) {
    e = DRSDT_Entry{};
    e.channel_id.fill(-1);
  }
  for (LSDT_Entry& e : v.local_table) e = LSDT_Entry{};
  for (SSDT_Entry& e : v.sensor_table) e = SSDT_Entry{};
}

result_t sensors_init() {
  result_t r = AccelM::StdControl_init();
  r = rcombine(r, PhotoTempM::PhotoStdControl_init());
  r = rcombine(r, MagM::StdControl_init());
  r = rcombine(r, PhotoTempM::TempStdControl_init());
  return rcombine(r, MicM::StdControl_init());
}

result_t sensors_start() {
  result_t r = AccelM::StdControl_start();
  r = rcombine(r, PhotoTempM::PhotoStdControl_start());
  r = rcombine(r, MagM::StdControl_start());
  r = rcombine(r, PhotoTempM::TempStdControl_start());
  return rcombine(r, MicM::StdControl_start());
}

result_t sensors_stop() {
  result_t r = AccelM::StdControl_stop();
  r = rcombine(r, PhotoTempM::PhotoStdControl_stop());
  r = rcombine(r, MagM::StdControl_stop());
  r = rcombine(r, PhotoTempM::TempStdControl_stop());
  return rcombine(r, MicM::StdControl_stop());
}

result_t read_local(stream_type desc, uint8_t nbytes) {
  LSDT_Entry& entry = vars().local_table[desc.no];
  if (entry.validity == 0) return FAIL;
  dbg(DBG_AM, "stream locale --- richiesta di READ\n");
  return ring_read(entry, desc, local_texts, nbytes, deliver);
}

int8_t write_local(stream_type desc, const int8_t* buf, uint8_t nbytes) {
  LSDT_Entry& entry = vars().local_table[desc.no];
  if (entry.validity == 0) return STREAM_NOT_OPEN;
  ring_insert(entry, desc, local_texts, buf, nbytes, deliver);
  run_stats::count(run_stats::records_written);
  return static_cast<int8_t>(nbytes);
}

result_t close_local(stream_type desc) {
  LSDT_Entry& entry = vars().local_table[desc.no];
  if (entry.validity == 0) return FAIL;
  entry.release();
  entry.validity = 0;
  return SUCCESS;
}
}  // namespace

Vars& vars() { return ss(); }
Vars& vars_of(int mote) { return ss.of(mote); }

void set_application(const Application& app) { application = app; }

result_t signal_readDone(stream_type desc, int8_t* buf, uint8_t nbytes) {
  if (application.readDone == nullptr) return SUCCESS;
  run_stats::count(run_stats::records_read);
  return application.readDone(desc, buf, nbytes, SUCCESS);
}

result_t signal_openRemoteDone(stream_type desc, uint8_t symbolic_name, result_t success) {
  if (application.openRemoteDone == nullptr) return SUCCESS;
  return application.openRemoteDone(desc, symbolic_name, success);
}

result_t StdControl_init() {
  Vars& v = vars();
  v.timestamp_rate = 1000;
  v.epoch_rate = 15000;
  uint8_t atomic = __quil_atomic_start();
  v.timestamp = 1;
  v.epotime = 0;
  __quil_atomic_end(atomic);
  clear_tables(v);
  LedsM::init();
  TimerM::StdControl_init();
  sensors_init();
  MicM::Mic_muxSel(1);
  MicM::Mic_gainAdjust(123);
  return NetToSSM::StdControl_init();
}

result_t StdControl_start() {
  Vars& v = vars();
  TimerM::StdControl_start();
  TimerM::Timer_start(TIMER_STAMP, TIMER_REPEAT, v.timestamp_rate);
  TimerM::Timer_start(TIMER_EPOCH, TIMER_REPEAT, v.epoch_rate);
  sensors_start();
  return NetToSSM::StdControl_start();
}

result_t StdControl_stop() {
  TimerM::StdControl_stop();
  sensors_stop();
  return NetToSSM::StdControl_stop();
}

stream_type SSToApp_open_l(uint8_t buffer_size) {
  Vars& v = vars();
  for (int8_t no = 0; no < STREAM_ENTRIES; ++no) {
    LSDT_Entry& entry = v.local_table[no];
    if (entry.validity != 0) continue;
    entry.open_ring(buffer_size);
    entry.validity = 1;
    return {LSDT_ID, no};
  }
  return {LSDT_ID, INVALID_DESCRIPTOR};
}

result_t SSToApp_read(stream_type stream_desc, uint8_t nbytes) {
  if (stream_desc.no < 0) return FAIL;
  bool valid = valid_entry(stream_desc.no);
  switch (stream_desc.table_id) {
    case SRSDT_ID: return FAIL;  // the source side cannot be read
    case DRSDT_ID: return valid ? read_remote_destination(stream_desc, nbytes) : FAIL;
    case SSDT_ID: return valid ? read_sensor(stream_desc, nbytes) : FAIL;
    case LSDT_ID: return valid ? read_local(stream_desc, nbytes) : FAIL;
    default: return SUCCESS;
  }
}

int8_t SSToApp_write(stream_type stream_desc, const int8_t* buf, uint8_t nbytes) {
  if (stream_desc.no < 0 || !valid_entry(stream_desc.no)) return INVALID_DESCRIPTOR;
  switch (stream_desc.table_id) {
    case SRSDT_ID:
      if (nbytes > MAX_RECORD_WRITE) return ILLEGAL_OPERATION;
      return write_remote_source(stream_desc, buf, nbytes);
    case DRSDT_ID:
    case SSDT_ID: return ILLEGAL_OPERATION;  // only the stream system fills them
    case LSDT_ID:
      if (nbytes > MAX_RECORD_WRITE) return ILLEGAL_OPERATION;
      return write_local(stream_desc, buf, nbytes);
    default: return 1;
  }
}

result_t SSToApp_close(stream_type stream_desc) {
  bool valid = valid_entry(stream_desc.no);
  switch (stream_desc.table_id) {
    case LSDT_ID: return valid ? close_local(stream_desc) : FAIL;
    case SSDT_ID: return valid ? close_sensor(stream_desc) : FAIL;
    case SRSDT_ID: return valid ? close_remote_source(stream_desc) : FAIL;
    case DRSDT_ID: return valid ? close_remote_destination(stream_desc) : FAIL;
    default: return SUCCESS;
  }
}

result_t TimerStamp_fired() {
  uint8_t atomic = __quil_atomic_start();
  uint16_t now = ++vars().timestamp;
  __quil_atomic_end(atomic);
  dbg(DBG_USR1, "campo time %i \n", now);
  return SUCCESS;
}

result_t TimerEpoch_fired() {
  uint8_t atomic = __quil_atomic_start();
  ++vars().epotime;
  __quil_atomic_end(atomic);
  return SUCCESS;
}
}  // namespace SSToAppM

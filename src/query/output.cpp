// The output operators (SEND, MIRROR, SERIAL_SEND) and the two queues by
// which mote 0 hands packets to the active-message layer: results for the
// host's serial port and operator messages forwarded by radio.
//
// The active-message layer takes one packet at a time, so a packet that finds
// it busy waits in its queue. Our own completions (types 9 and 15) send the
// next one; when the layer is busy with someone else's packet, no completion
// of ours will come, so a retry event is scheduled instead.

#include <algorithm>
#include <array>
#include <cstring>
#include <memory>

#include "devices/leds_m.hpp"
#include "kernel/dbg.hpp"
#include "kernel/event.hpp"
#include "kernel/run_stats.hpp"
#include "kernel/schedule.hpp"
#include "kernel/vex_state.hpp"
#include "kernel/world.hpp"
#include "net/am_promiscuous.hpp"
#include "query/pellund_m.hpp"
#include "streams/ss_to_app.hpp"

namespace PellundM {
namespace {
// Ticks between retries while the active-message layer is busy: one serial
// transfer, short beside a radio packet.
constexpr vex_time_t OUTPUT_RETRY_DELAY = 1600;

// Bumped at every init of a mote, so that a retry scheduled in a previous
// life of the mote does nothing. Survives the reset of component variables.
std::array<uint32_t, VEXNODES> output_generation{};
const WorldReset clear_output_generations{[] { restore_table(output_generation); }};

struct OutputRetryEvent final : event_t {
  uint32_t generation = 0;
  void handle(EventPtr, VEX_state_t&) override {
    if (generation != output_generation[mote]) return;
    vars().retry_armed = false;
    pump_outputs();
  }
};

void arm_retry() {
  Vars& v = vars();
  if (v.retry_armed) return;
  v.retry_armed = true;
  const int mote = vex_state.current_node.load();
  auto retry = sim::make_event<OutputRetryEvent>(mote, sim::now() + OUTPUT_RETRY_DELAY);
  retry->generation = output_generation[mote];
  sim::schedule(std::move(retry));
}

// Hands the oldest waiting result to the serial port if none is in flight.
void serial_next() {
  Vars& v = vars();
  if (v.send_pending != 0 || v.serial_queue.empty()) return;
  std::memset(v.pkt.data, 0, sizeof v.pkt.data);
  std::memcpy(v.pkt.data, v.serial_queue.front().buffer, RECORD_BYTES);
  if (AMPromiscuous::SendMsg_send(AM_MSGUART, VEX_UART_ADDR, RECORD_BYTES, &v.pkt) == SUCCESS) {
    v.serial_queue.pop();
    v.send_pending = 1;
    run_stats::count(run_stats::results);
  }
}

uint8_t record_bytes(const record_type& record) {
  return static_cast<uint8_t>(record.numfields * 2);
}
}  // namespace

void pump_outputs() {
  forward_next();
  serial_next();
  Vars& v = vars();
  const bool in_flight = v.radio_send_pending != 0 || v.send_pending != 0;
  const bool waiting = !v.forward_queue.empty() || !v.serial_queue.empty();
  if (waiting && !in_flight) arm_retry();
}

void reset_outputs() {
  Vars& v = vars();
  ++output_generation[vex_state.current_node.load()];
  v.send_pending = 0;
  v.radio_send_pending = 0;
  v.serial_queue = {};
  v.forward_queue = {};
  v.forward_task_posted = false;
  v.retry_armed = false;
}

void send(stream_type stream_input, stream_type stream_output, record_type record) {
  dbg(DBG_USR1, "S E N D\n");
  SSToAppM::SSToApp_write(stream_output, record.data.buffer, record_bytes(record));
  request_next_record(stream_input, record_bytes(record));
}

void mirror(stream_type stream_output, record_type record) {
  dbg(DBG_USR1, "M I R R O R \n");
  if (SSToAppM::SSToApp_write(stream_output, record.data.buffer, record_bytes(record)) <= 0) {
    dbg(DBG_USR1, "MIRROR--Errore in scrittura \n");
  }
  // No next record: MIRROR rides on the reads of the operator beside it.
}

void serial_send(stream_type stream_input, record_type record, uint8_t nbytes) {
  dbg(DBG_USR1, "S E R I A L  S E N D\n");
  Vars& v = vars();
  SerialResult result{};
  std::memcpy(result.buffer, record.data.buffer, std::min(nbytes, RECORD_BYTES));
  if (v.serial_queue.push(result)) {
    pump_outputs();
  } else {
    // The host is this far behind: the newest result is the one lost.
    ++v.serial_dropped;
    dbg(DBG_ERROR, "PellundM: serial queue full, result dropped (%u so far).\n",
        static_cast<unsigned>(v.serial_dropped));
  }
  LedsM::greenToggle();
  request_next_record(stream_input, record_bytes(record));
}

result_t SendMsgSerial_sendDone(VEX_MsgPtr, result_t) {
  // The serial port is free again whatever the outcome (it never fails).
  vars().send_pending = 0;
  pump_outputs();
  return SUCCESS;
}
}  // namespace PellundM

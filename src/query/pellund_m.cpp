#include "query/pellund_m.hpp"

#include "devices/leds_m.hpp"
#include "kernel/per_mote.hpp"
#include "net/am_promiscuous.hpp"
#include "streams/ss_to_app.hpp"

namespace PellundM {
namespace {
PerMote<Vars> pellund;

void clear_tables(Vars& v) {
  for (operator_table_entry& e : v.operator_table) {
    e.query_id = 0;
    e.operator_ = NO_OPERATOR;
    e.stream_output = -1;
    e.stream_input1 = -1;
    e.stream_input2 = -1;
    e.predicate = predicate_type{0};
    e.field1 = NO_FIELD;
    e.field2 = NO_FIELD;
    e.constant = 0;
    e.record = record_type{};
  }
  for (open_table_entry& e : v.open_table) {
    e.query_id = 0;
    e.stream_desc.no = -1;
    e.symbolic_name = 0;
    e.stream_rate = 0;
    e.start_time = {0, 0};
    e.reliability = 0;
    e.buffer_size = 0;
    e.dest = 0;
    e.sensor_tid = 0;
    e.sampling_type = 0;
    e.validity = 0;
  }
  for (app_open_request& r : v.open_requested) r.symbolic_name = 0;
  for (app_read_request& r : v.read_requested) r.stream_desc.no = -1;
}
}  // namespace

Vars& vars() { return pellund(); }
Vars& vars_of(int mote) { return pellund.of(mote); }

// The tables first, then the stream system (it brings up LEDs, timers,
// sensors and the channel layer), the active-message layer and the LEDs.
result_t StdControl_init() {
  Vars& v = vars();
  clear_tables(v);
  reset_outputs();
  result_t r = SSToAppM::StdControl_init();
  r = rcombine(r, AMPromiscuous::Control_init());
  return rcombine(r, LedsM::init());
}

result_t StdControl_start() {
  result_t r = AMPromiscuous::Control_start();
  return rcombine(r, SSToAppM::StdControl_start());
}

result_t StdControl_stop() {
  result_t r = AMPromiscuous::Control_stop();
  return rcombine(r, SSToAppM::StdControl_stop());
}
}  // namespace PellundM

#include "app/wiring.hpp"

#include "kernel/mote_lifecycle.hpp"
#include "kernel/timer_m.hpp"
#include "net/am_promiscuous.hpp"
#include "query/pellund_m.hpp"
#include "streams/ss_to_app.hpp"

void wire_components() {
  set_app_entry_points({PellundM::StdControl_init, PellundM::StdControl_start,
                        PellundM::StdControl_stop});

  TimerM::set_fired_handler(TIMER_STAMP, SSToAppM::TimerStamp_fired);
  TimerM::set_fired_handler(TIMER_EPOCH, SSToAppM::TimerEpoch_fired);
  TimerM::set_fired_handler(TIMER_ACTIVITY, AMPromiscuous::ActivityTimer_fired);

  wire_radio();
  wire_sensors();
  wire_channels();
  wire_queries();
}

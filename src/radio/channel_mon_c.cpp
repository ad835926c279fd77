#include "radio/channel_mon_c.hpp"

#include <memory>

#include "devices/random_lfsr.hpp"
#include "kernel/dbg.hpp"
#include "kernel/per_mote.hpp"
#include "kernel/vex_state.hpp"
#include "radio/orla_high_speed_radio_m.hpp"
#include "radio/radio_hardware.hpp"

namespace ChannelMonC {
namespace {
PerMote<Vars> channel_mon;

constexpr uint16_t PREAMBLE_MASK = 0x0777;
constexpr uint16_t PREAMBLE = 0x0707;     // 1 1 1 x 0 0 0 x 1 1 1
constexpr uint16_t START_SYMBOL = 0x135;  // 1 0 0 1 1 0 1 0 1
constexpr uint16_t QUIET_MASK = 0x0FFF;   // the last 12 samples
constexpr uint8_t START_SYMBOL_SAMPLES = 30;

void idle_state_sample(Vars& v, uint8_t bit) {
  v.CM_search[0] = static_cast<uint16_t>((v.CM_search[0] << 1) | bit);
  if (v.CM_waiting != -1) {
    --v.CM_waiting;
    if (v.CM_waiting == 1) {
      if ((v.CM_search[0] & QUIET_MASK) == 0) {
        v.CM_waiting = -1;
        ChannelMon_stopMonitorChannel();
        OrlaHighSpeedRadioM::ChannelMon_idleDetect();
      } else {
        v.CM_waiting = static_cast<int16_t>((RandomLFSR::Random_rand() & 0x1FF) + 50);
      }
    }
  }
  if ((v.CM_search[0] & PREAMBLE_MASK) == PREAMBLE) {
    v.CM_state = START_SYMBOL_SEARCH;
    v.CM_search[0] = 0;
    v.CM_search[1] = 0;
    v.CM_startSymBits = START_SYMBOL_SAMPLES;
  }
}

void start_symbol_sample(Vars& v, uint8_t bit) {
  if (--v.CM_startSymBits == 0) {
    v.CM_state = IDLE_STATE;
    return;
  }
  uint16_t& chosen = v.CM_search[v.CM_lastBit & 1];
  uint16_t shifted = static_cast<uint16_t>(((chosen << 1) & 0x1FF) | bit);
  if (shifted == START_SYMBOL) {
    ChannelMon_stopMonitorChannel();
    v.CM_state = IDLE_STATE;
    radioWaitingState[vex_state.current_node.load()] = 1;
    OrlaHighSpeedRadioM::ChannelMon_startSymDetect();
    return;
  }
  chosen = shifted;
  v.CM_lastBit ^= 1;
}
}  // namespace

Vars& vars() { return channel_mon(); }
Vars& vars_of(int mote) { return channel_mon.of(mote); }

result_t ChannelMon_init() {
  vars().CM_waiting = -1;
  return ChannelMon_startSymbolSearch();
}

result_t ChannelMon_startSymbolSearch() {
  const int mote = vex_state.current_node.load();
  vars().CM_state = IDLE_STATE;
  event_channel_mon_invalidate(mote);
  dbg(DBG_MEM, "malloc channel mon event.\n");
  EventPtr event = event_channel_mon_create(mote, vex_state.vex_time.load() + CHANNEL_MON_INTERVAL,
                                            CHANNEL_MON_INTERVAL);
  static_cast<ChannelMonEvent&>(*event).generation = channelMonEvents[mote].arm();
  vex_state.queue.insert_event(std::move(event));
  return SUCCESS;
}

result_t ChannelMon_stopMonitorChannel() {
  event_channel_mon_invalidate(vex_state.current_node.load());
  vars().CM_state = DISABLED_STATE;
  return SUCCESS;
}

result_t ChannelMon_macDelay() {
  Vars& v = vars();
  v.CM_search[0] = 0x00FF;
  if (v.CM_waiting == -1)
    v.CM_waiting = static_cast<int16_t>((RandomLFSR::Random_rand() & 0x3F) + 100);
  return SUCCESS;
}

void SIG_OUTPUT_COMPARE2B_signal() {
  uint8_t bit = VEXH_rfm_rx_bit();
  Vars& v = vars();
  switch (v.CM_state) {
    case IDLE_STATE:
      idle_state_sample(v, bit);
      break;
    case START_SYMBOL_SEARCH:
      start_symbol_sample(v, bit);
      break;
    default:
      break;
  }
}
}  // namespace ChannelMonC

EventPtr event_channel_mon_create(int mote, vex_time_t time, int interval) {
  auto event = std::make_unique<ChannelMonEvent>();
  dbg(DBG_MEM, "malloc Channel Mon event data.\n");
  event->interval = interval;
  event->time = time;
  event->mote = mote;
  event->cleanup = EventCleanup::total;
  return event;
}

void event_channel_mon_invalidate(int mote) { channelMonEvents[mote].invalidate(); }

void ChannelMonEvent::handle(EventPtr self, VEX_state_t& state) {
  if (!channelMonEvents[mote].is_live(generation)) {
    dbg(DBG_RADIO, "RADIO: invalid Channel Mon event for mote %i at %lli discarded.\n", mote,
        static_cast<long long>(time));
    event_cleanup(std::move(self));
    return;
  }
  if (dbg_active(DBG_RADIO)) {
    dbg(DBG_RADIO, "RADIO: Channel Mon event handled for mote %i at %s with interval of %i.\n",
        mote, currentTime(), interval);
  }
  time += interval;
  state.queue.insert_event(std::move(self));
  ChannelMonC::SIG_OUTPUT_COMPARE2B_signal();
}

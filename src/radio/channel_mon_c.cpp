#include "radio/channel_mon_c.hpp"

#include <array>
#include <cstdint>
#include <memory>

#include "devices/random_lfsr.hpp"
#include "kernel/dbg.hpp"
#include "kernel/per_mote.hpp"
#include "kernel/schedule.hpp"
#include "kernel/vex_state.hpp"
#include "kernel/world.hpp"
#include "radio/connectivity.hpp"
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
    set_radio_waiting(vex_state.current_node.load(), 1);
    OrlaHighSpeedRadioM::ChannelMon_startSymDetect();
    return;
  }
  chosen = shifted;
  v.CM_lastBit ^= 1;
}

// --- lazy sampling ---------------------------------------------------------

struct SleepState {
  bool asleep = false;
  vex_time_t next_sample = 0;  // the first sample not yet applied
  EventPtr parked;             // the monitor's event while no sample is due
};

bool lazy = false;
int asleep_motes = 0;
std::array<SleepState, VEXNODES> sleep_of;

// Whether fast mode is on is a setting of the run and stays.
const WorldReset wake_everyone{[] {
  for (SleepState& nap : sleep_of) {
    if (nap.asleep || nap.parked || nap.next_sample != 0) nap = SleepState{};
  }
  asleep_motes = 0;
}};

constexpr int64_t NO_CHECK = -1;

// Samples from the next one up to and including the one that runs the idle
// check of a waiting send, if that check can come while the channel stays
// silent; NO_CHECK otherwise.
int64_t samples_until_check(const Vars& v) {
  if (v.CM_waiting == -1) return NO_CHECK;
  int64_t search = v.CM_state == START_SYMBOL_SEARCH ? v.CM_startSymBits : 0;
  return search + v.CM_waiting - 1;
}

// A silent sample now may be followed by sleep: no debug line shows single
// samples, the sample itself can have no effect beyond the registers, and
// the countdown is one this code can follow.
bool may_sleep(const Vars& v) {
  if (!lazy || rfm->kind != RfmKind::simple || simple_ones_on_air != 0) return false;
  if (dbg_active(DBG_RADIO | DBG_MEM)) return false;
  if (v.CM_state == DISABLED_STATE) return false;
  if (v.CM_state == START_SYMBOL_SEARCH && v.CM_startSymBits == 0) return false;
  // The next sample must not be the idle check itself, and a countdown
  // outside 3..32767 is one no send waits on in practice: sample it exactly.
  return v.CM_waiting == -1 || v.CM_waiting >= 3;
}

// `count` silent samples, none of them an idle check.
void apply_silent_samples(Vars& v, int64_t count) {
  while (count > 0 && v.CM_state == START_SYMBOL_SEARCH) {
    start_symbol_sample(v, 0);  // a 0 never completes the start symbol
    --count;
  }
  if (count > 0 && v.CM_state == IDLE_STATE) {
    // A 0 as the newest sample never completes a preamble.
    v.CM_search[0] = count >= 16 ? 0 : static_cast<uint16_t>(v.CM_search[0] << count);
    if (v.CM_waiting != -1) v.CM_waiting = static_cast<int16_t>(v.CM_waiting - count);
  }
}

// Applies the silent samples due before `now` to a sleeping monitor.
void catch_up(int mote, vex_time_t now) {
  SleepState& nap = sleep_of[mote];
  if (!nap.asleep || now <= nap.next_sample) return;
  int64_t due = (now - nap.next_sample + CHANNEL_MON_INTERVAL - 1) / CHANNEL_MON_INTERVAL;
  Vars& v = vars_of(mote);
  // The idle check is a sample of its own: its queued event takes it.
  const int64_t check = samples_until_check(v);
  if (check != NO_CHECK && due >= check) due = check - 1;
  apply_silent_samples(v, due);
  nap.next_sample += due * CHANNEL_MON_INTERVAL;
}

void fall_asleep(int mote, EventPtr event, vex_time_t next_sample) {
  SleepState& nap = sleep_of[mote];
  nap.asleep = true;
  nap.next_sample = next_sample;
  ++asleep_motes;
  int64_t check = samples_until_check(vars_of(mote));
  if (check == NO_CHECK) {
    nap.parked = std::move(event);
  } else {
    event->time = next_sample + (check - 1) * CHANNEL_MON_INTERVAL;
    sim::schedule(std::move(event));
  }
}

// Resumes sampling after now. A sample due this very tick counts as taken
// before the transmission that wakes the monitor: that sample was queued
// long before the sender's bit event, and usually runs first.
void wake(int mote, vex_time_t now) {
  SleepState& nap = sleep_of[mote];
  if (!nap.asleep) return;
  catch_up(mote, now + 1);
  nap.asleep = false;
  --asleep_motes;
  EventPtr event = std::move(nap.parked);
  if (event == nullptr) {
    // The event waits in the queue for an idle check further on; it becomes
    // stale and a new one takes the next sample.
    event = event_channel_mon_create(mote, 0, CHANNEL_MON_INTERVAL);
    static_cast<ChannelMonEvent&>(*event).generation = channelMonEvents[mote].arm();
  }
  event->time = nap.next_sample;
  sim::schedule(std::move(event));
}

// Before the running mote's monitor changes state: its samples so far,
// including one due this very tick (see wake).
void settle_running_mote() {
  if (asleep_motes == 0) return;
  catch_up(vex_state.current_node.load(), sim::now() + 1);
}
}  // namespace


Vars& vars() { return channel_mon(); }
Vars& vars_of(int mote) { return channel_mon.of(mote); }

result_t ChannelMon_init() {
  settle_running_mote();
  vars().CM_waiting = -1;
  return ChannelMon_startSymbolSearch();
}

result_t ChannelMon_startSymbolSearch() {
  const int mote = vex_state.current_node.load();
  settle_running_mote();
  vars().CM_state = IDLE_STATE;
  event_channel_mon_invalidate(mote);
  dbg(DBG_MEM, "malloc channel mon event.\n");
  EventPtr event =
      event_channel_mon_create(mote, sim::now() + CHANNEL_MON_INTERVAL, CHANNEL_MON_INTERVAL);
  static_cast<ChannelMonEvent&>(*event).generation = channelMonEvents[mote].arm();
  sim::schedule(std::move(event));
  return SUCCESS;
}

result_t ChannelMon_stopMonitorChannel() {
  settle_running_mote();
  event_channel_mon_invalidate(vex_state.current_node.load());
  vars().CM_state = DISABLED_STATE;
  return SUCCESS;
}

result_t ChannelMon_macDelay() {
  settle_running_mote();
  Vars& v = vars();
  v.CM_search[0] = 0x00FF;
  if (v.CM_waiting == -1) {
    v.CM_waiting = static_cast<int16_t>((RandomLFSR::Random_rand() & 0x3F) + 100);
    // A sleeping monitor now has an idle check to keep.
    const int mote = vex_state.current_node.load();
    SleepState& nap = sleep_of[mote];
    if (nap.asleep && nap.parked != nullptr) {
      EventPtr event = std::move(nap.parked);
      nap.asleep = false;
      --asleep_motes;
      fall_asleep(mote, std::move(event), nap.next_sample);
    }
  }
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
  auto event = sim::make_event<ChannelMonEvent>(mote, time);
  dbg(DBG_MEM, "malloc Channel Mon event data.\n");
  event->interval = interval;
  event->cleanup = EventCleanup::total;
  return event;
}

void event_channel_mon_invalidate(int mote) {
  channelMonEvents[mote].invalidate();
  ChannelMonSleep::forget(mote);
}

void ChannelMonEvent::handle(EventPtr self, VEX_state_t&) {
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
  if (ChannelMonC::sleep_of[mote].asleep) {
    // Woken for an idle check: the samples skipped so far were silent.
    ChannelMonC::catch_up(mote, time);
    ChannelMonC::sleep_of[mote].asleep = false;
    --ChannelMonC::asleep_motes;
  }
  time += interval;
  if (ChannelMonC::may_sleep(ChannelMonC::vars_of(mote))) {
    // This sample reads silence and changes nothing but the registers.
    ChannelMonC::SIG_OUTPUT_COMPARE2B_signal();
    ChannelMonC::fall_asleep(mote, std::move(self), time);
    return;
  }
  sim::schedule(std::move(self));
  ChannelMonC::SIG_OUTPUT_COMPARE2B_signal();
}

namespace ChannelMonSleep {
using ChannelMonC::asleep_motes;
using ChannelMonC::sleep_of;
void enable(bool on) { ChannelMonC::lazy = on; }
bool enabled() { return ChannelMonC::lazy; }
int sleeping_count() { return asleep_motes; }

void forget(int mote) {
  ChannelMonC::SleepState& nap = sleep_of[mote];
  if (nap.asleep) --asleep_motes;
  nap.asleep = false;
  nap.parked.reset();
}

void catch_up_all() {
  if (asleep_motes == 0) return;
  const vex_time_t now = sim::now();
  const int motes = vex_state.num_nodes;
  for (int m = 0; m < motes; ++m) ChannelMonC::catch_up(m, now + 1);
}

void wake_sleeping_monitors() {
  if (asleep_motes == 0) return;
  const vex_time_t now = sim::now();
  const int motes = vex_state.num_nodes;
  for (int m = 0; m < motes && asleep_motes > 0; ++m) {
    if (sleep_of[m].asleep && vex_state.moteOn[m]) ChannelMonC::wake(m, now);
  }
}

vex_time_t next_skipped_sample(vex_time_t time) {
  vex_time_t earliest = INT64_MAX;
  if (asleep_motes == 0) return earliest;
  const int motes = vex_state.num_nodes;
  for (int m = 0; m < motes; ++m) {
    const ChannelMonC::SleepState& nap = sleep_of[m];
    if (!nap.asleep || !vex_state.moteOn[m]) continue;
    const vex_time_t sample = first_tick_at_or_after(nap.next_sample, CHANNEL_MON_INTERVAL, time);
    if (sample < earliest) earliest = sample;
  }
  return earliest;
}
}  // namespace ChannelMonSleep

#pragma once
// ChannelMonC: watches the channel while no packet is in progress.
//
// It samples the air every CHANNEL_MON_INTERVAL ticks. In IDLE_STATE it
// keeps the last 16 samples, counts down for a waiting send (macDelay) and
// reports idleDetect once the last 12 samples were silent, backing off by a
// random number of samples from the mote's own RandomLFSR otherwise; and it
// looks for the preamble (1 1 1 x 0 0 0 x 1 1 1, oldest first). After a
// preamble it searches up to 30 samples for the start symbol, alternating
// the samples between two registers so that each sees every fourth bit of a
// sender, and reports startSymDetect when one of them reads 0x135.

#include <cstdint>

#include "kernel/event.hpp"
#include "kernel/vex_types.hpp"

constexpr int CHANNEL_MON_INTERVAL = 200;  // ticks between samples

namespace ChannelMonC {
enum : uint8_t { IDLE_STATE = 0, START_SYMBOL_SEARCH = 1, DISABLED_STATE = 3 };

struct Vars {
  uint16_t CM_search[2];    // sample registers; the first is also the idle history
  uint8_t CM_state;         // IDLE_STATE, START_SYMBOL_SEARCH, DISABLED_STATE
  uint8_t CM_lastBit;       // the register that takes the next search sample
  uint8_t CM_startSymBits;  // samples left for the start-symbol search
  int16_t CM_waiting;       // samples left before the next idle check; -1: no send waits
};

result_t ChannelMon_init();
// (Re)starts sampling in IDLE_STATE; the sample registers keep their contents.
result_t ChannelMon_startSymbolSearch();
result_t ChannelMon_stopMonitorChannel();
// Asks for idleDetect once the channel is found quiet, after 99-162 samples
// at the earliest.
result_t ChannelMon_macDelay();

// One sample of the channel.
void SIG_OUTPUT_COMPARE2B_signal();

Vars& vars();
Vars& vars_of(int mote);
}  // namespace ChannelMonC

struct ChannelMonEvent final : event_t {
  int interval = 0;
  uint32_t generation = 0;  // see channelMonEvents
  void handle(EventPtr self, VEX_state_t& state) override;
};

EventPtr event_channel_mon_create(int mote, vex_time_t time, int interval);
void event_channel_mon_invalidate(int mote);

// Lazy sampling (the -fast option, off by default). While the channel a
// mote hears is silent, every sample shifts a 0 in and counts down: nothing
// a mote does depends on those samples until something is heard or a
// waiting send's idle check comes. So a monitor that has just sampled
// silence stops queueing an event per sample and goes to sleep; its silent
// samples are applied in one step when it wakes: when a transmission can
// reach it (the connectivity model calls wake_sleeping_monitors), when its
// own radio calls the monitor, or at the sample of an idle check, for which
// its event stays queued. Every random draw keeps its place.
//
// A monitor sleeps only under the simple radio model (the lossy model draws
// noise from the shared random generator at every idle sample) and while
// neither the radio nor the simmem debug lines are on (they would show
// every sample). A sample that falls on the very tick a transmission starts
// may read the channel after it instead of before: one of the orders of
// simultaneous events the queue allows anyway.
//
// Which side of a tie a skipped sample takes is fixed: a sample due on the
// very tick the monitor wakes or is called counts as taken before, as its
// event was queued long before the one that wakes it.
namespace ChannelMonSleep {
void enable(bool on);
bool enabled();
// Catches up and resumes sampling on every sleeping monitor of a mote that
// is on. Call when the channel every mote hears may no longer be silent.
void wake_sleeping_monitors();
// Applies every sleeping monitor's samples due up to now, leaving them
// asleep, so that its registers read as with exact sampling.
void catch_up_all();
// Drops the mote's sleep state (its radio was reset).
void forget(int mote);
int sleeping_count();
// The earliest sample of a sleeping monitor (of a mote that is on) due at or
// after `time`; INT64_MAX when none sleeps.
vex_time_t next_skipped_sample(vex_time_t time);
}  // namespace ChannelMonSleep

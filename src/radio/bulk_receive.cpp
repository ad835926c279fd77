#include "radio/bulk_receive.hpp"

#include <array>
#include <cstdint>
#include <memory>

#include "kernel/atomic.hpp"
#include "kernel/dbg.hpp"
#include "kernel/schedule.hpp"
#include "kernel/vex_state.hpp"
#include "kernel/world.hpp"
#include "radio/connectivity.hpp"
#include "radio/orla_high_speed_radio_m.hpp"
#include "radio/radio_hardware.hpp"
#include "radio/spi_byte_fifo_c.hpp"

namespace BulkReceive {
namespace {

constexpr int BITS_PER_BYTE = 8;
constexpr vex_time_t BYTE_TICKS = BITS_PER_BYTE * RADIO_TICKS_PER_EVENT;
// A receiver joins only once the owner has had the air to itself this long:
// under contention groups would be settled again right away.
constexpr vex_time_t QUIET_BEFORE_JOINING = 2 * BYTE_TICKS;
constexpr int MAX_GROUPS = 8;
constexpr int NO_GROUP = -1;

// --- the air's recent history ----------------------------------------------

// The times the air turned busy or silent, newest last. A byte's samples
// reach back 800 ticks, in which the owner alone changes the air at most
// nine times; anything else settles every member first.
struct AirChange {
  vex_time_t time;
  bool busy;
};
constexpr int AIR_LOG_SIZE = 64;
std::array<AirChange, AIR_LOG_SIZE> air_log{};
int air_log_next = 0;         // the slot the next change goes to
int air_log_size = 0;         // changes kept
bool air_before_log = false;  // the air before the oldest change kept
bool air_busy = false;

void log_air(vex_time_t now, bool busy) {
  if (busy == air_busy) return;
  air_busy = busy;
  if (air_log_size == AIR_LOG_SIZE) {
    air_before_log = air_log[air_log_next].busy;
  } else {
    ++air_log_size;
  }
  air_log[air_log_next] = {now, busy};
  air_log_next = (air_log_next + 1) % AIR_LOG_SIZE;
}

// What a sample at `time` reads: the air after every change before that tick.
uint8_t air_at(vex_time_t time) {
  int slot = air_log_next;
  for (int i = 0; i < air_log_size; ++i) {
    slot = (slot + AIR_LOG_SIZE - 1) % AIR_LOG_SIZE;
    if (air_log[slot].time < time) return air_log[slot].busy ? 1 : 0;
  }
  return air_before_log ? 1 : 0;
}

// --- who has the air --------------------------------------------------------

constexpr int NOBODY = -1;
int owner = NOBODY;          // the mote that last put a 1 on the air
vex_time_t owner_phase = 0;  // the tick within the bit it does so on
vex_time_t owner_since = 0;  // since when it alone did so, on that tick

// --- groups -----------------------------------------------------------------

struct Group {
  bool active = false;
  uint32_t generation = 0;      // the live group event carries this value
  vex_time_t window_start = 0;  // the first sample of the byte under way
  int count = 0;
  std::array<int16_t, VEXNODES> members{};
};

std::array<Group, MAX_GROUPS> groups;
std::array<int8_t, VEXNODES> slot_plus_one{};  // a member's group slot + 1; 0 for others
std::array<EventPtr, VEXNODES> parked;         // each member's own bit clock event
int members_total = 0;

void forget_everything() {
  for (Group& group : groups) {
    group.active = false;
    group.count = 0;
  }
  slot_plus_one.fill(0);
  for (EventPtr& event : parked) event.reset();
  members_total = 0;
  air_log_next = 0;
  air_log_size = 0;
  air_before_log = false;
  air_busy = false;
  owner = NOBODY;
  owner_phase = 0;
  owner_since = 0;
}

// Whether fast mode is on is a setting of the run and stays.
const WorldReset clear_groups{[] { forget_everything(); }};

SpiByteEvent& clock_event_of(int mote) { return static_cast<SpiByteEvent&>(*parked[mote]); }

bool stepping_may_skip_bits() {
  return enabled_flag && rfm->kind == RfmKind::simple && !dbg_active(DBG_RADIO | DBG_MEM);
}

// In the middle of a frame, with nothing of its own on the air.
bool receiving_a_frame(int mote) {
  return OrlaHighSpeedRadioM::vars_of(mote).state == OrlaHighSpeedRadioM::RX_STATE &&
         SpiByteFifoC::vars_of(mote).radioState == SpiByteFifoC::RADIO_RECEIVING &&
         transmitting[mote] == 0;
}

void make_current(int mote) {
  vex_state.current_node = static_cast<int16_t>(mote);
  uint8_t atomic = __quil_atomic_start();
  VEX_LOCAL_ADDRESS = static_cast<uint16_t>(mote);
  __quil_atomic_end(atomic);
}

void close_group(Group& group) {
  group.active = false;
  group.count = 0;
  ++group.generation;  // its queued event finds itself stale
}

// Hands a member back to bit stepping: the samples it took before now go
// into its shift register, and its clock event is queued for the next one.
// A sample due this very tick is left to that event, so it reads the air
// after whatever changes it now.
void settle_member(int mote, const Group& group, vex_time_t now) {
  const vex_time_t start = group.window_start;
  int taken = 0;
  if (now > start) {
    taken = static_cast<int>((now - start + RADIO_TICKS_PER_EVENT - 1) / RADIO_TICKS_PER_EVENT);
    if (taken > BITS_PER_BYTE - 1) taken = BITS_PER_BYTE - 1;
  }
  SpiByteFifoC::Vars& spi = SpiByteFifoC::vars_of(mote);
  for (int i = 0; i < taken; ++i) {
    spi.spdr = static_cast<uint8_t>((spi.spdr << 1) | air_at(start + i * RADIO_TICKS_PER_EVENT));
  }
  SpiByteEvent& event = clock_event_of(mote);
  event.count = taken;
  event.time = start + taken * RADIO_TICKS_PER_EVENT;
  SpiByteHandle& clock = spiByteEvents[mote];
  if (clock.is_live(event.generation)) clock.time = event.time;
  slot_plus_one[mote] = 0;
  --members_total;
  sim::schedule(std::move(parked[mote]));
}

int group_starting_at(vex_time_t window_start) {
  int free_slot = NO_GROUP;
  for (int g = 0; g < MAX_GROUPS; ++g) {
    if (groups[g].active && groups[g].window_start == window_start) return g;
    if (!groups[g].active && free_slot == NO_GROUP) free_slot = g;
  }
  if (free_slot == NO_GROUP) return NO_GROUP;
  Group& group = groups[free_slot];
  group.active = true;
  group.count = 0;
  group.window_start = window_start;
  auto event = sim::make_event<BulkByteEvent>(0, window_start + BYTE_TICKS - RADIO_TICKS_PER_EVENT);
  event->force = 1;  // it runs the members' own checks for switched-off motes
  event->slot = free_slot;
  event->generation = ++group.generation;
  sim::schedule(std::move(event));
  return free_slot;
}

// The eight samples of a byte whose first sample is at `start`.
uint8_t byte_sampled_from(vex_time_t start) {
  uint8_t byte = 0;
  for (int i = 0; i < BITS_PER_BYTE; ++i) {
    byte = static_cast<uint8_t>((byte << 1) | air_at(start + i * RADIO_TICKS_PER_EVENT));
  }
  return byte;
}
}  // namespace

bool enabled_flag = false;

void enable(bool on) {
  if (!on) settle_all();
  enabled_flag = on;
}
int member_count() { return members_total; }
bool member(int mote) { return slot_plus_one[mote] != 0; }

bool try_join(int mote, vex_time_t next_sample, EventPtr& clock_event) {
  if (!stepping_may_skip_bits() || !receiving_a_frame(mote)) return false;
  const vex_time_t now = sim::now();
  if (owner != NOBODY) {
    if (now - owner_since < QUIET_BEFORE_JOINING) return false;
    // The owner's changes must never share a tick with a sample.
    if (next_sample % RADIO_TICKS_PER_EVENT == owner_phase) return false;
  }
  const int g = group_starting_at(next_sample);
  if (g == NO_GROUP) return false;
  Group& group = groups[g];
  group.members[group.count++] = static_cast<int16_t>(mote);
  slot_plus_one[mote] = static_cast<int8_t>(g + 1);
  parked[mote] = std::move(clock_event);
  ++members_total;
  return true;
}

void air_changed(int mote, bool one_on, bool air_now_busy) {
  const vex_time_t now = sim::now();
  const vex_time_t phase = now % RADIO_TICKS_PER_EVENT;
  const bool from_owner = mote == owner && phase == owner_phase;
  if (!from_owner && members_total > 0) settle_all();
  if (one_on && !from_owner) {
    owner = mote;
    owner_phase = phase;
    owner_since = now;
  }
  log_air(now, air_now_busy);
}

void air_cleared() {
  settle_all();
  owner = NOBODY;
  log_air(sim::now(), false);
}

void leave(int mote) {
  const int g = slot_plus_one[mote] - 1;
  if (g == NO_GROUP) return;
  Group& group = groups[g];
  settle_member(mote, group, sim::now());
  int kept = 0;
  for (int i = 0; i < group.count; ++i) {
    if (group.members[i] != mote) group.members[kept++] = group.members[i];
  }
  group.count = kept;
  if (kept == 0) close_group(group);
}

void settle_all() {
  if (members_total == 0) return;
  const vex_time_t now = sim::now();
  for (Group& group : groups) {
    if (!group.active) continue;
    for (int i = 0; i < group.count; ++i) settle_member(group.members[i], group, now);
    close_group(group);
  }
}

vex_time_t next_skipped_sample(vex_time_t time) {
  vex_time_t earliest = INT64_MAX;
  if (members_total == 0) return earliest;
  for (const Group& group : groups) {
    if (!group.active) continue;
    const vex_time_t sample =
        first_tick_at_or_after(group.window_start, RADIO_TICKS_PER_EVENT, time);
    if (sample < earliest) earliest = sample;
  }
  return earliest;
}
}  // namespace BulkReceive

// Every member's byte is the same: they all hear the one air at the same
// ticks. Its members each take it as their clock event would at its eighth
// bit; whoever has finished its frame then steps bit by bit again. A member's
// byte can change nothing but that member's own state, so no member leaves
// or joins another's group while this runs.
void BulkByteEvent::handle(EventPtr self, VEX_state_t& state) {
  using namespace BulkReceive;
  Group& group = groups[slot];
  if (!group.active || group.generation != generation) return;  // settled meanwhile
  if (!stepping_may_skip_bits()) {
    settle_all();
    return;
  }
  const vex_time_t boundary = time;
  const vex_time_t next_sample = boundary + RADIO_TICKS_PER_EVENT;
  const uint8_t byte = byte_sampled_from(group.window_start);
  int kept = 0;
  for (int i = 0; i < group.count; ++i) {
    const int mote = group.members[i];
    SpiByteHandle& clock = spiByteEvents[mote];
    SpiByteEvent& event = clock_event_of(mote);
    slot_plus_one[mote] = 0;
    if (!state.moteOn[mote]) {
      clock.invalidate();
      rfm->stop_transmit(mote);
      parked[mote].reset();
      --members_total;
      continue;
    }
    make_current(mote);
    SpiByteFifoC::vars_of(mote).spdr = byte;  // eight shifts leave nothing else
    SpiByteFifoC::SIG_SPI_signal();
    if (receiving_a_frame(mote) && clock.is_live(event.generation)) {
      clock.time = next_sample;
      slot_plus_one[mote] = static_cast<int8_t>(slot + 1);
      group.members[kept++] = static_cast<int16_t>(mote);
      continue;
    }
    event.count = 0;
    event.time = next_sample;
    if (clock.is_live(event.generation)) clock.time = next_sample;
    --members_total;
    sim::schedule(std::move(parked[mote]));
  }
  group.count = kept;
  if (kept == 0) {
    close_group(group);
    return;
  }
  group.window_start = next_sample;
  time = boundary + BYTE_TICKS;
  sim::schedule(std::move(self));
}

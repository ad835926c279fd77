#pragma once
// Bulk reception (part of -fast): receivers step a byte at a time.
//
// Under the one-cell model every mote hears the same air. A receiver that
// has locked onto a frame samples the air once per bit and does nothing else
// until its byte is complete, so its eight samples can be taken together at
// the byte boundary, read back from a log of the air's recent changes. A
// receiver whose bit clock reaches a byte boundary in the middle of a frame
// parks its clock event and joins a group: the receivers whose byte
// boundaries fall on the same tick (all those woken by one sender bit). One
// group event per byte hands each member its byte; a member leaves when its
// frame ends (CRC checked) and steps bit by bit again.
//
// The samples read back are those exact stepping takes as long as no change
// of the air falls on a sample tick. The air's owner (the one mote putting
// 1-bits on it, always on the same tick within the bit) never ties with a
// member, whose phase differs from the owner's when it joins. Anything else
// settles the groups first: the members' partial bytes (shift register, bit
// count) are rebuilt up to now and their parked clocks queued again for the
// next sample, so the rest runs exactly. That happens when another mote puts
// a 1 on the air or takes one off it, when the owner changes its phase, when
// a member's clock is restarted, ended or invalidated, its radio mode
// changes, or its radio is reset, and before a client reads variables. A
// member switched off gives up its clock at the group event, as its clock
// event would have at its next sample.
//
// Nothing joins under the lossy model or while the radio or simmem debug
// lines are on; a group event that finds them on settles everything.

#include <cstdint>

#include "kernel/event.hpp"
#include "kernel/vex_types.hpp"

namespace BulkReceive {
void enable(bool on);
// Inline: the radio asks at every 1-bit on the air.
extern bool enabled_flag;
inline bool enabled() { return enabled_flag; }

// A receiving mote's bit clock at a byte boundary (its next sample at
// `next_sample`) offers its event; true when the mote joined a group and
// the event is parked, false when the caller queues it as usual.
bool try_join(int mote, vex_time_t next_sample, EventPtr& clock_event);

// The simple model reports every change of its count of 1-bits on the air:
// `mote` put a 1 on (on == true) or took one off.
void air_changed(int mote, bool on, bool air_now_busy);

// The model's tables were cleared (a model was created): the air is silent.
void air_cleared();

// Settles one mote, if it is a member, before its clock or radio changes.
void leave(int mote);
bool member(int mote);
// Settles every member, before anything that reads radio state.
void settle_all();
int member_count();

// The earliest sample at or after `time` that a member takes without an
// event of its own; INT64_MAX when there is no member.
vex_time_t next_skipped_sample(vex_time_t time);
}  // namespace BulkReceive

// The event that steps one group a byte at a time.
struct BulkByteEvent final : event_t {
  int slot = 0;  // the group's slot
  uint32_t generation = 0;
  void handle(EventPtr self, VEX_state_t& state) override;
};

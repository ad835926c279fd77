#pragma once
// The emulated radio hardware of each mote: the bit rate, the access to the
// air (through the connectivity model), and the handles of the radio's
// per-mote events.
//
// Each mote has at most one live event of each kind: its bit clock (SPI
// byte event), its channel monitor and its receive-timing step. Superseding
// an event does not touch it: the handle moves to a new generation, and the
// old event, which carries the generation it was made with, finds itself
// stale when it comes up and is discarded. Nothing keeps a pointer to a
// queued event, so the queue may free events of switched-off motes freely.
//
// This state belongs to the hardware, not to the component variables: it
// survives the reset of a booting mote, whose radio init clears it instead.

#include <array>
#include <bit>
#include <cstdint>

#include "kernel/dbg.hpp"
#include "kernel/vex_state.hpp"
#include "kernel/vex_types.hpp"
#include "radio/connectivity.hpp"

constexpr int RADIO_TICKS_PER_EVENT = 100;  // one bit: 25 us, 40 kbit/s

// The handle of one kind of event of one mote.
struct RadioEventHandle {
  uint32_t generation = 0;  // the live event, if any, carries this value
  bool live = false;        // a current event of this kind is queued

  // A new event takes the next generation: every older one becomes stale.
  uint32_t arm() {
    live = true;
    return ++generation;
  }
  void invalidate() { live = false; }
  bool is_live(uint32_t event_generation) const { return live && event_generation == generation; }
};

// The bit clock's handle also remembers the one event that is winding down:
// idle() lets it run once more to take the mote's last bit off the air.
struct SpiByteHandle : RadioEventHandle {
  vex_time_t time = 0;             // when the live event fires next
  bool ending = false;             // an ending event is queued ...
  uint32_t ending_generation = 0;  // ... with this generation

  void end() {
    if (!live) return;
    ending = true;
    ending_generation = generation;
    live = false;
  }
  bool is_ending(uint32_t event_generation) const {
    return ending && event_generation == ending_generation;
  }
};

extern std::array<SpiByteHandle, VEXNODES> spiByteEvents;
extern std::array<RadioEventHandle, VEXNODES> channelMonEvents;
extern std::array<RadioEventHandle, VEXNODES> radioTimingEvents;

// 0 normally; 1 when the channel monitor has just found a start symbol; 2
// while the mote, after its timing step, waits for the sender's bit clock.
// Read it freely; change it with set_radio_waiting, which keeps the set of
// waiting motes below in step.
extern std::array<uint8_t, VEXNODES> radioWaitingState;
constexpr uint8_t WAITING_FOR_SENDER_CLOCK = 2;
void set_radio_waiting(int mote, uint8_t waiting_state);

// The motes in waiting state 2, as a bit set, so that a sender's 1-bit finds
// them without walking all of its links.
class WaitingReceivers {
 public:
  void add(int mote) {
    uint64_t& word = words_[mote / 64];
    const uint64_t bit = uint64_t{1} << (mote % 64);
    if ((word & bit) == 0) ++count_;
    word |= bit;
  }
  void remove(int mote) {
    uint64_t& word = words_[mote / 64];
    const uint64_t bit = uint64_t{1} << (mote % 64);
    if ((word & bit) != 0) --count_;
    word &= ~bit;
  }
  bool empty() const { return count_ == 0; }
  void clear() { *this = WaitingReceivers{}; }
  // Calls visit(mote) for every member from the highest id down: the order
  // in which a one-cell sender's links name them.
  template <typename Visit>
  void for_each_descending(Visit visit) const {
    for (int w = WORDS - 1; w >= 0; --w) {
      uint64_t word = words_[w];
      while (word != 0) {
        const int top = 63 - std::countl_zero(word);
        word &= ~(uint64_t{1} << top);
        visit(w * 64 + top);
      }
    }
  }

 private:
  static constexpr int WORDS = (VEXNODES + 63) / 64;
  std::array<uint64_t, WORDS> words_{};
  int count_ = 0;
};
extern WaitingReceivers waiting_receivers;

// The first tick at or after `time` of a series that fires at `first` and
// every `period` ticks after it.
inline vex_time_t first_tick_at_or_after(vex_time_t first, vex_time_t period, vex_time_t time) {
  if (first >= time) return first;
  return first + (time - first + period - 1) / period * period;
}

// Puts the running mote's bit on the air (bit & 1).
void VEXH_rfm_tx_bit(uint8_t bit);
// What the running mote's receiver hears now: 0 or 1. Inline: every
// channel sample asks.
inline uint8_t VEXH_rfm_rx_bit() {
  const int mote = vex_state.current_node.load();
  uint8_t bit = rfm->hears(mote);
  dbg(DBG_RADIO, "RFM: Mote %i got bit %x\n", mote, bit);
  return bit;
}

// Takes the mote's radio back to its power-on state: its bit off the air,
// every queued radio event of it stale, not waiting for a sender.
void reset_radio_hardware(int mote);

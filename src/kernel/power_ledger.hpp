#pragma once
// How long each mote spent switched on, and in each power state while on:
// the radio asleep, receiving or transmitting, each LED lit; and how many
// conversions its ADC made (a conversion takes no virtual time here, so the
// energy model charges each one a fixed duration). The devices report their state changes (the same moments the
// -p power notes mark) and switching a mote on or off opens or closes all
// of its intervals; a mote that is off draws nothing, and one switched on
// again starts with its radio asleep, its LEDs dark and its ADC idle, as
// its hardware does.
//
// One fixed record per mote; a state change is a few assignments, so the
// event path neither allocates nor formats. The ledger is kept always: it
// costs next to nothing and lets the statistics file report any run.

#include <array>
#include <cstdint>

#include "kernel/vex_types.hpp"

namespace power_ledger {

enum class Radio : uint8_t { sleep, receive, transmit };
enum Led : uint8_t { red, green, yellow, LED_COUNT };

// Ticks spent in each state up to some moment.
struct Times {
  vex_time_t on = 0;                      // switched on (the processor runs)
  std::array<vex_time_t, 3> radio{};      // indexed by Radio, while on
  std::array<vex_time_t, LED_COUNT> led{};
  uint64_t adc_conversions = 0;
};

void switched_on(int mote, vex_time_t now);
void switched_off(int mote, vex_time_t now);

// State changes of the running mote at the current virtual time. Ignored
// while the mote is off (its switch-off already closed everything).
void radio(Radio state);
void led(Led which, bool lit);
void adc_conversion();

// The mote's times up to `now`, counting the intervals still open.
Times times_of(int mote, vex_time_t now);

}  // namespace power_ledger

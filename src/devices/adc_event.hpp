#pragma once
// The emulated ADC hardware of each mote. A sample request arms the mote's
// one ADC event for the requested port; when the event runs it reads the ADC
// model, hands the value up to the converter driver and tells control
// clients. The event is created on a mote's first request and reused for
// every later one, so sampling allocates nothing.
//
// Between conversions the event waits parked in the mote's emulation record;
// while it is on the queue, the queue owns it. A request that finds nothing
// parked (the event is still queued, or the queue dropped it when the mote
// was switched off) supersedes it with a fresh event: the generation count
// marks the old one stale, and it is discarded when it comes up.

#include <array>
#include <cstdint>
#include <memory>

#include "kernel/event.hpp"
#include "kernel/vex_types.hpp"

constexpr uint16_t AM_ADCDATAREADYEVENT = 8;

// What the mote's ADC event converts.
struct adc_tick_data_t {
  int32_t valid = 0;  // 1 while a conversion is armed, 0 after a stop
  uint8_t port = 0;   // logical port being converted
};

struct AdcTickEvent final : event_t {
  uint32_t generation = 0;  // stale once the mote's generation moved on
  void handle(EventPtr self, VEX_state_t& state) override;
};

// ADC emulation state of one mote. Hardware state: it survives the reset of
// the mote's component variables.
struct AdcEmulation {
  adc_tick_data_t data;
  std::unique_ptr<AdcTickEvent> parked;  // the event while it is not queued
  uint32_t generation = 0;
};
extern std::array<AdcEmulation, VEXNODES> adcEvents;

// Conversion delay in ticks of each mote; zero, so a reading arrives at the
// time of its request (as a separate event).
extern std::array<int8_t, VEXNODES> adcSamplingRates;

void VEXH_adc_init();
void VEXH_adc_sample_port(uint8_t port);
void VEXH_adc_sample_stop();
void VEXH_adc_data_ready(uint16_t value);

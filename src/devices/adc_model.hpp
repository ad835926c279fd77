#pragma once
// The ADC model every conversion reads. One model runs for the whole
// simulation: the generic model (a per-mote, per-port value table that
// control clients set, with random readings for entries nobody set) or the
// random model (every reading random, 0 to 1023).
//
// The value table is shared with the control-port command thread, which
// writes it through set_adc_value; every read and write of an entry takes
// the table's lock. Everything else here runs on the simulation thread.

#include <cstdint>
#include <memory>

#include "kernel/vex_types.hpp"
#include "protocol/sensors.hpp"

constexpr int ADC_NUM_PORTS_PER_NODE = 256;
// An entry nobody set: its readings are random.
constexpr uint16_t ADC_VALUE_UNSET = protocol::ADC_VALUE_UNSET;

struct adc_model {
  void (*init)();
  uint16_t (*read)(int moteID, uint8_t port, vex_time_t time);
};

std::unique_ptr<adc_model> create_generic_adc_model();
std::unique_ptr<adc_model> create_random_adc_model();

// Start-up: selects the model (and empties the value table), then runs its init.
void create_adc_model(bool random);
void adc_model_init();

// A reading of the selected model (the generic one when none was selected).
uint16_t adc_model_read(int moteID, uint8_t port, vex_time_t time);

void generic_adc_init();  // marks every entry unset
// The entry of a mote's port; a fresh random value while it is unset, and
// ADC_VALUE_UNSET for a mote id outside 0-999. The time is not used.
uint16_t generic_adc_read(int moteID, uint8_t port, vex_time_t time);
void random_adc_init();
uint16_t random_adc_read(int moteID, uint8_t port, vex_time_t time);

// Sets the value a mote's port converts to from the next conversion on;
// ADC_VALUE_UNSET makes the entry unset again. Any thread.
void set_adc_value(uint16_t mote, uint8_t port, uint16_t value);

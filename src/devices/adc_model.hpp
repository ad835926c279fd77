#pragma once
// The ADC model every conversion reads: the generic per-mote value table
// or random values.

#include <cstdint>

void create_adc_model(bool random);
void adc_model_init();

// Sets the value a mote's ADC port converts to (generic model). Any thread.
void set_adc_value(uint16_t mote, uint8_t port, uint16_t value);

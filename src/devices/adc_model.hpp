#pragma once
// The ADC model every conversion reads: the generic per-mote value table
// or random values.

void create_adc_model(bool random);
void adc_model_init();

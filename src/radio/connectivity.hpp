#pragma once
// The radio connectivity model: which mote hears which, and how well.

#include <cstdint>

void create_radio_model(uint8_t kind, const char* lossy_file_or_null);
void radio_model_init();

// Sets the bit-error probability of the link from one mote to another
// (creating the link if needed). Any thread.
void set_link_prob_value(uint16_t from, uint16_t to, double probability);

#pragma once
// The radio connectivity model: which mote hears which, and how well.

#include <cstdint>

void create_radio_model(uint8_t kind, const char* lossy_file_or_null);
void radio_model_init();

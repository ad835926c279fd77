#pragma once
// MicM: the microphone, its input multiplexer and its gain. The gain is a
// digital potentiometer on the I2C bus (I2CPotM); readings are taken by the
// stream system straight from ADCM port 3.

#include <cstdint>

#include "kernel/vex_types.hpp"

namespace MicM {
result_t StdControl_init();
result_t StdControl_start();
result_t StdControl_stop();

// Multiplexer input 0 or 1; FAIL for any other.
result_t Mic_muxSel(uint8_t sel);
// Writes the gain pot; the outcome arrives (and is ignored) in writePotDone.
result_t Mic_gainAdjust(uint8_t gain);

result_t MicInterrupt_disable();

// Completions of the gain pot.
result_t I2CPot_writePotDone(result_t result);
result_t I2CPot_readPotDone(uint8_t data, result_t result);
}  // namespace MicM

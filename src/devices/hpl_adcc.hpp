#pragma once
// The converter hardware as the driver sees it: power notes around the
// emulated ADC, and the completion handed up to ADCM.

#include <cstdint>

#include "kernel/vex_types.hpp"

namespace HPLADCC {
result_t ADC_init();
// Board ports are fixed on this platform: binding records nothing.
result_t ADC_bindPort(uint8_t port, uint8_t adcPort);
result_t ADC_samplePort(uint8_t port);
result_t ADC_sampleStop();
// A conversion completed (from the emulated hardware).
result_t ADC_dataReady(uint16_t data);
}  // namespace HPLADCC

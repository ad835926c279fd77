#pragma once
// Power and CPU profiling. Power notes are debug lines (DBG_POWER) logged
// while power profiling (-p) is on, one per state change of a mote's LEDs,
// radio and ADC. CPU profiling (-cpuprof) needs per-block execution counts
// from an instrumented build; this build has none, so every count is 0.

#include <cstdint>

#include "kernel/vex_types.hpp"

namespace PowerStateM {
result_t PowerState_init(bool power, bool cpu);
bool power_on();
bool cpu_on();

void redOn();
void redOff();
void greenOn();
void greenOff();
void yellowOn();
void yellowOff();
void radioStart();
void radioStop();
void radioTxMode();
void radioRxMode();
void ADCon();
void ADCsample(int port);
void ADCdataReady();

void PowerState_CPUCycleCheckpoint();
double PowerState_get_mote_cycles(int mote);
result_t PowerState_stop();

// Forgets the settings (used by tests).
void reset_for_tests();
}  // namespace PowerStateM

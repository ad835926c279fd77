#pragma once
// I2CPotM: the digital potentiometers on the I2C bus (the microphone's gain,
// the magnetometer's offset). A pot write is a start condition, a command
// byte naming the device, a byte naming the pot, the data byte and an end
// condition, each step completed by I2CM before the next one goes out. A
// byte the bus does not acknowledge ends the write with an end condition and
// writePotDone(FAIL). One operation at a time.

#include <cstdint>

#include "kernel/vex_types.hpp"

constexpr uint8_t VEX_MAG_POT_ADDR = 0;
constexpr uint8_t VEX_MIC_POT_ADDR = 1;

namespace I2CPotM {
constexpr uint8_t IDLE = 0;
constexpr uint8_t READ_POT_START = 11;
constexpr uint8_t READ_COMMAND = 13;
constexpr uint8_t READ_POT_READING_DATA = 18;
constexpr uint8_t READ_FAIL = 19;
constexpr uint8_t WRITE_POT_START = 30;
constexpr uint8_t WRITE_COMMAND = 31;
constexpr uint8_t WRITE_COMMAND_2 = 32;
constexpr uint8_t WRITING_TO_POT = 33;
constexpr uint8_t WRITE_POT_STOP = 40;
constexpr uint8_t READ_POT_STOP = 41;
constexpr uint8_t WRITE_FAIL = 49;

struct Vars {
  uint8_t data;
  uint8_t state;
  uint8_t addr;
  uint8_t pot;
};

result_t StdControl_init();

// FAIL while another pot operation runs or when the bus refuses the start.
// Completed by MicM's writePotDone / readPotDone.
result_t I2CPot_writePot(uint8_t addr, uint8_t pot, uint8_t data);
result_t I2CPot_readPot(uint8_t addr, uint8_t pot);

// Completions from I2CM.
result_t I2C_sendStartDone();
result_t I2C_sendEndDone();
result_t I2C_readDone(uint8_t data);
result_t I2C_writeDone(bool ok);

Vars& vars_of(int mote);
}  // namespace I2CPotM

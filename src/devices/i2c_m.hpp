#pragma once
// I2CM: a bit-banged I2C bus on two emulated pins (port 0x34, clock bit 4,
// data bit 5; direction register 0x36, input register 0x35). Each request
// (start, end, read a byte, write a byte) is carried out by a task and
// completed by an event to I2CPotM; one request at a time.
//
// The emulated input register reads as all ones, so a written byte is never
// acknowledged and every byte read is 0xFF.

#include <cstdint>

#include "kernel/vex_types.hpp"

namespace I2CM {
constexpr uint8_t READ_DATA = 1;
constexpr uint8_t WRITE_DATA = 2;
constexpr uint8_t SEND_START = 3;
constexpr uint8_t SEND_END = 4;
constexpr uint8_t READ_ACK = 16;  // added to READ_DATA: acknowledge the byte read

struct Vars {
  uint8_t state;       // the request waiting for the task; 0 idle
  uint8_t local_data;  // the byte to write
};

result_t StdControl_init();

// Each FAIL while another request is waiting.
result_t I2C_sendStart();
result_t I2C_sendEnd();
result_t I2C_read(bool ack);
result_t I2C_write(uint8_t data);

Vars& vars_of(int mote);
}  // namespace I2CM

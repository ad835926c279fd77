#pragma once
// The mote's three LEDs. Every change is reported to control clients as a
// one-byte LED event (red bit 0, green bit 1, yellow bit 2).

#include <cstdint>

#include "kernel/vex_types.hpp"

constexpr uint16_t AM_LEDEVENT = 64;

namespace LedsM {
constexpr uint8_t RED_BIT = 1;
constexpr uint8_t GREEN_BIT = 2;
constexpr uint8_t YELLOW_BIT = 4;

struct Vars {
  uint8_t ledsOn;
};

result_t init();
result_t redOn();
result_t redOff();
result_t redToggle();
result_t greenOn();
result_t greenOff();
result_t greenToggle();
result_t yellowOn();
result_t yellowOff();
result_t yellowToggle();

Vars& vars_of(int mote);
}  // namespace LedsM

#pragma once
// Each mote's 16-bit linear-feedback random generator, seeded from the
// mote's address. The radio's channel monitor draws its backoffs from it.

#include <cstdint>

#include "kernel/vex_types.hpp"

namespace RandomLFSR {
struct Vars {
  uint16_t shiftReg;
  uint16_t initSeed;
  uint16_t mask;
};
result_t Random_init();
uint16_t Random_rand();
Vars& vars_of(int mote);
}  // namespace RandomLFSR

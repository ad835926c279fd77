#include "devices/random_lfsr.hpp"

#include "kernel/atomic.hpp"
#include "kernel/dbg.hpp"
#include "kernel/per_mote.hpp"
#include "kernel/vex_state.hpp"

namespace RandomLFSR {
namespace {
PerMote<Vars> lfsr;
}  // namespace

result_t Random_init() {
  dbg(DBG_BOOT, "RANDOM_LFSR initialized.\n");
  uint8_t atomic = __quil_atomic_start();
  Vars& v = lfsr();
  v.shiftReg = static_cast<uint16_t>(14161u * (VEX_LOCAL_ADDRESS + 1u));
  v.initSeed = v.shiftReg;
  v.mask = static_cast<uint16_t>(3973u * (VEX_LOCAL_ADDRESS + 1u));
  __quil_atomic_end(atomic);
  return SUCCESS;
}

uint16_t Random_rand() {
  uint8_t atomic = __quil_atomic_start();
  Vars& v = lfsr();
  uint16_t s = v.shiftReg;
  bool carry = (s & 0x8000) != 0;
  s = static_cast<uint16_t>(s << 1);
  if (carry) s ^= 0x100B;
  ++s;
  v.shiftReg = s;
  uint16_t result = s ^ v.mask;
  __quil_atomic_end(atomic);
  return result;
}

Vars& vars_of(int mote) { return lfsr.of(mote); }
}  // namespace RandomLFSR

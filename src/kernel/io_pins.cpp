#include "kernel/io_pins.hpp"

#include "kernel/dbg.hpp"
#include "kernel/vex_state.hpp"
#include "kernel/world.hpp"

std::array<VEXH_pc_hardware_t, VEXNODES> VEXH_pc_hardware{};

namespace {
const WorldReset clear_pins{[] { restore_table(VEXH_pc_hardware); }};
}  // namespace

namespace {
uint8_t& register_for(uint8_t port) {
  VEXH_pc_hardware_t& hw = VEXH_pc_hardware[vex_state.current_node.load()];
  switch (port) {
    case 0x00: return hw.status_register;
    case 0x34: return hw.register_A;
    case 0x37: return hw.register_B;
    case 0x40: return hw.register_C;
    case 0x43: return hw.register_D;
    case 0x70: return hw.register_E;
    default: return hw.register_default;
  }
}
}  // namespace

void set_io_bit(uint8_t port, uint8_t bit) {
  dbg(DBG_HARD, "Set bit %i of port %u\n", bit, port);
  register_for(port) |= static_cast<uint8_t>(1u << (bit & 7));
}

void clear_io_bit(uint8_t port, uint8_t bit) {
  // Only logged: nothing in the system reads back a cleared output bit.
  dbg(DBG_HARD, "Clear bit %i of port %u\n", bit, port);
}

uint8_t inp_emulate(uint8_t port) {
  if (port == 0x00) return VEXH_pc_hardware[vex_state.current_node.load()].status_register;
  if (port == 0x12) return 0;
  dbg(DBG_HARD, "inp(%u)\n", port);
  return 0xFF;
}

void init_hardware(int num_nodes) {
  for (int mote = 0; mote < num_nodes && mote < VEXNODES; ++mote) {
    vex_state.current_node = static_cast<int16_t>(mote);
    VEXH_pc_hardware[mote].status_register = 0xFF;
  }
}

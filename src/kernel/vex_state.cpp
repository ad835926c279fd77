#include "kernel/vex_state.hpp"

#include "kernel/world.hpp"

VEX_state_t vex_state;
uint16_t VEX_LOCAL_ADDRESS = 1;
uint8_t VEX_AM_GROUP = VEX_DEFAULT_AM_GROUP;

void VEX_state_t::reset() {
  vex_time = 0;
  radio_kb_rate = 0;
  num_nodes = 0;
  current_node = 0;
  restore_table(node_state);
  queue.init(0);
  radioModel = VARNIX_RADIO_MODEL_SIMPLE;
  restore_table(moteOn);
  restore_table(cancelBoot);
  std::lock_guard<std::mutex> guard(pause_lock);
  paused = false;
}

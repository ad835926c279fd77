#include "kernel/vex_state.hpp"

VEX_state_t vex_state;
uint16_t VEX_LOCAL_ADDRESS = 1;
uint8_t VEX_AM_GROUP = VEX_DEFAULT_AM_GROUP;

void VEX_state_t::reset() {
  vex_time = 0;
  radio_kb_rate = 0;
  num_nodes = 0;
  current_node = 0;
  node_state.fill(VEX_node_state_t{});
  queue.init(0);
  radioModel = VARNIX_RADIO_MODEL_SIMPLE;
  moteOn.fill(false);
  cancelBoot.fill(false);
  std::lock_guard<std::mutex> guard(pause_lock);
  paused = false;
}

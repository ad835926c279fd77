#include "radio/packet_sim.hpp"

void packet_sim_init() {}

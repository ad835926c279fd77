#pragma once
// The packet-level radio model, set up at start-up beside the bit-level radio.

void packet_sim_init();

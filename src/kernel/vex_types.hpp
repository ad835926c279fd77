#pragma once
// Basic types and constants shared by every layer of the simulator.

#include <cstdint>

#include "protocol/limits.hpp"
#include "protocol/time_format.hpp"  // TICKS_PER_SECOND

using vex_time_t = int64_t;  // virtual time in ticks
using result_t = uint8_t;    // status of a component command

constexpr result_t FAIL = 0;
constexpr result_t SUCCESS = 1;

// Combines two results of a fan-out: SUCCESS only when both are SUCCESS.
constexpr result_t rcombine(result_t a, result_t b) {
  return (a == SUCCESS && b == SUCCESS) ? SUCCESS : FAIL;
}

constexpr int VEXNODES = protocol::MAX_MOTES;  // copies of every per-mote array; the largest mote count

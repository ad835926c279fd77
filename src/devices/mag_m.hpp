#pragma once
// MagM: the two-axis magnetometer. It is not read through the converter:
// each reading is the generic value table's entry for the mote at port 120
// (X) or 121 (Y), whichever ADC model runs, delivered from a task.

#include <cstdint>

#include "kernel/vex_types.hpp"
#include "protocol/sensors.hpp"

namespace MagM {
constexpr uint8_t PORT_MAGX = 120;
constexpr uint8_t PORT_MAGY = 121;
// Host tools set these ports for `magx` and `magy`.
static_assert(protocol::sensor_by_id(protocol::MAGNETISMX)->value_port == PORT_MAGX);
static_assert(protocol::sensor_by_id(protocol::MAGNETISMY)->value_port == PORT_MAGY);

result_t StdControl_init();
result_t StdControl_start();
result_t StdControl_stop();

result_t MagX_getData();  // the post's result
result_t MagY_getData();

// Where readings go up (the stream system); installed by the wiring.
using DataReadyHandler = result_t (*)(uint16_t data);
void set_data_ready_handlers(DataReadyHandler x, DataReadyHandler y);
}  // namespace MagM

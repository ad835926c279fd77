#pragma once
// MagM: the two-axis magnetometer. It is not read through the converter:
// each reading is the generic value table's entry for the mote at port 120
// (X) or 121 (Y), whichever ADC model runs, delivered from a task.

#include <cstdint>

#include "kernel/vex_types.hpp"
#include "protocol/sensors.hpp"

namespace MagM {
constexpr uint8_t PORT_MAGX = protocol::MAGX_TABLE_PORT;
constexpr uint8_t PORT_MAGY = protocol::MAGY_TABLE_PORT;

result_t StdControl_init();
result_t StdControl_start();
result_t StdControl_stop();

result_t MagX_getData();  // the post's result
result_t MagY_getData();

// Where readings go up (the stream system); installed by the wiring.
using DataReadyHandler = result_t (*)(uint16_t data);
void set_data_ready_handlers(DataReadyHandler x, DataReadyHandler y);
}  // namespace MagM

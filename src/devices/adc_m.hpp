#pragma once
// ADCM, the converter driver: one ADC interface per logical port over the
// mote's single converter. Requests for different ports queue as bits of a
// request vector and are served one at a time, round-robin from the port
// just converted; a port has at most one request pending.
//
// Readings of the light and temperature ports go to PhotoTempM; the ports
// the stream system samples itself (microphone, accelerometer) go up through
// handlers the wiring installs. A port nobody consumes refuses its reading.

#include <cstdint>

#include "kernel/vex_types.hpp"
#include "protocol/sensors.hpp"

// Logical ADC ports of the sensors, and the board ports they are bound to.
constexpr uint8_t VEX_ADC_PHOTO_PORT = protocol::adc_port_of(protocol::LIGHT);
constexpr uint8_t VEX_ADC_TEMP_PORT = protocol::adc_port_of(protocol::TEMPERATURE);
constexpr uint8_t VEX_ADC_MIC_PORT = protocol::adc_port_of(protocol::VOICE);
constexpr uint8_t VEX_ADC_ACCEL_X_PORT = protocol::adc_port_of(protocol::ACCELERATIONX);
constexpr uint8_t VEX_ADC_ACCEL_Y_PORT = protocol::adc_port_of(protocol::ACCELERATIONY);
constexpr uint8_t VEX_ADC_MAG_X_PORT = protocol::adc_port_of(protocol::MAGNETISMX);
constexpr uint8_t VEX_ADC_MAG_Y_PORT = protocol::adc_port_of(protocol::MAGNETISMY);
constexpr uint8_t VEXH_ACTUAL_PHOTO_PORT = 1;
constexpr uint8_t VEXH_ACTUAL_TEMP_PORT = 1;
constexpr uint8_t VEXH_ACTUAL_MIC_PORT = 2;
constexpr uint8_t VEXH_ACTUAL_ACCEL_X_PORT = 3;
constexpr uint8_t VEXH_ACTUAL_ACCEL_Y_PORT = 4;
constexpr uint8_t VEXH_ACTUAL_MAG_X_PORT = 6;
constexpr uint8_t VEXH_ACTUAL_MAG_Y_PORT = 5;

// The round-robin search for the next pending port runs over ports 0-254.
constexpr uint16_t VEXH_ADC_PORTMAPSIZE = 255;

namespace ADCM {
constexpr uint8_t IDLE = 0;
constexpr uint8_t SINGLE_CONVERSION = 1;
constexpr uint8_t CONTINUOUS_CONVERSION = 2;

// Ports that can be requested: the request vector has one bit per port.
constexpr int REQUEST_PORTS = 16;

struct Vars {
  uint16_t ReqPort;      // port being converted (low byte)
  uint16_t ReqVector;    // bit n: a request for port n is pending
  uint16_t ContReqMask;  // bit n: port n is sampled continuously
};

result_t ADCControl_init();
result_t ADCControl_bindPort(uint8_t port, uint8_t adcPort);

// One reading of a port. FAIL while that port already has a request pending,
// and for a port the request vector cannot hold (16 and above).
result_t ADC_getData(uint8_t port);
// Readings of a port one after another until its consumer refuses one.
result_t ADC_getContinuousData(uint8_t port);

// A conversion completed: serve the next pending port, then hand the
// reading to the consumer of the port converted.
result_t HPLADC_dataReady(uint16_t data);

// Consumers above the sensor board, by logical port (light and temperature
// are PhotoTempM's and cannot be replaced). Null: the port has no consumer.
using DataReadyHandler = result_t (*)(uint16_t data);
void set_data_ready_handler(uint8_t port, DataReadyHandler handler);

Vars& vars_of(int mote);
}  // namespace ADCM

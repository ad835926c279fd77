#pragma once
// Sensor streams: readings of the mote's seven sensors as 8-byte records
// (mote address, timestamp, epoch, value; each two bytes, high byte first).
//
// A periodic stream samples on a repeating timer and stores every record in
// its ring, from which reads are served as for local streams. An on-demand
// stream stores nothing: each read starts one sampling, and the record goes
// straight to the reader when the reading completes. A reading travels from
// its completion to the stream through a per-sensor hand-off pair (value and
// timestamp) and an insertion task; a reading whose stream was closed in the
// meantime is dropped.

#include <cstdint>

#include "kernel/vex_types.hpp"
#include "protocol/operators.hpp"
#include "protocol/sensors.hpp"

namespace SSToAppM {
// Sensor ids (0 marks a free entry) and sampling types.
using protocol::ACCELERATIONX;
using protocol::ACCELERATIONY;
using protocol::LIGHT;
using protocol::MAGNETISMX;
using protocol::MAGNETISMY;
using protocol::NUM_SENSORS;
using protocol::ON_DEMAND;
using protocol::PERIODIC;
using protocol::TEMPERATURE;
using protocol::VOICE;

using protocol::SENSOR_RECORD_SIZE;

// Per-mote hand-off pairs: the reading (already shifted right by 2) and the
// timestamp it completed at, from the completion to the insertion task.
struct SensorVars {
  uint16_t insertDataTaskLight_data;
  uint16_t insertDataTaskTemp_data;
  uint16_t insertDataTaskVoice_data;
  uint16_t insertDataTaskAccelX_data;
  uint16_t insertDataTaskAccelY_data;
  uint16_t insertDataTaskMagX_data;
  uint16_t insertDataTaskMagY_data;
  uint16_t insertDataTaskLight_timestamp;
  uint16_t insertDataTaskTemp_timestamp;
  uint16_t insertDataTaskVoice_timestamp;
  uint16_t insertDataTaskAccelX_timestamp;
  uint16_t insertDataTaskAccelY_timestamp;
  uint16_t insertDataTaskMagX_timestamp;
  uint16_t insertDataTaskMagY_timestamp;
};
SensorVars& sensor_vars_of(int mote);

// Sampling timers (TIMER_LIGHT ... TIMER_ACCEL_Y): ask the sensor for a reading.
result_t TimerLight_fired();
result_t TimerTemp_fired();
result_t TimerVoice_fired();
result_t TimerMagX_fired();
result_t TimerMagY_fired();
result_t TimerAccelX_fired();
result_t TimerAccelY_fired();

// Readings from the sensor board: hand off and post the insertion task.
result_t PhotoADC_dataReady(uint16_t data);
result_t TempADC_dataReady(uint16_t data);
result_t MicADC_dataReady(uint16_t data);
result_t MagX_dataReady(uint16_t data);
result_t MagY_dataReady(uint16_t data);
result_t AccelX_dataReady(uint16_t data);
result_t AccelY_dataReady(uint16_t data);

// Stores (periodic) or delivers (on demand) one record of a sensor's stream;
// drops the reading when the sensor has no open stream.
void insertDataSensorStream(uint8_t sensor_tid, uint16_t data, uint16_t ts);
}  // namespace SSToAppM

#pragma once
// PhotoTempM: the light and temperature sensors, which share one converter
// path and one warm-up timer. Before each reading the sensor's control pin
// is switched on and the other's off, and a one-shot timer (10 counts) lets
// the sensor settle; requests for both sensors are served one after the
// other by the sampling task, each with its own warm-up.

#include <cstdint>

#include "kernel/vex_types.hpp"

namespace PhotoTempM {
using SensorState_t = int32_t;
constexpr SensorState_t stateIdle = 0;
constexpr SensorState_t stateReadOnce = 1;
constexpr SensorState_t stateContinuous = 2;

constexpr int32_t sensorIdle = 0;
constexpr int32_t sensorPhotoStarting = 1;
constexpr int32_t sensorPhotoReady = 2;
constexpr int32_t sensorTempStarting = 3;
constexpr int32_t sensorTempReady = 4;

constexpr uint32_t WARM_UP_INTERVAL = 10;  // timer counts

struct Vars {
  SensorState_t photoSensor;
  SensorState_t tempSensor;
  int32_t hardwareStatus;
  bool waitingForSample;       // a warm-up or a conversion is outstanding
  bool getSample_photoIsNext;  // which sensor the sampling task serves next
};

result_t PhotoStdControl_init();
result_t PhotoStdControl_start();
result_t PhotoStdControl_stop();
result_t TempStdControl_init();
result_t TempStdControl_start();
result_t TempStdControl_stop();

// One reading of light or temperature, delivered to the external handler.
result_t ExternalPhotoADC_getData();
result_t ExternalTempADC_getData();

// From ADCM (ports 1 and 2) and from the warm-up timer (TIMER_PHOTO_TEMP).
result_t InternalPhotoADC_dataReady(uint16_t data);
result_t InternalTempADC_dataReady(uint16_t data);
result_t Timer_fired();

// Where readings go up (the stream system); installed by the wiring.
using DataReadyHandler = result_t (*)(uint16_t data);
void set_external_handlers(DataReadyHandler photo, DataReadyHandler temp);

Vars& vars_of(int mote);
}  // namespace PhotoTempM

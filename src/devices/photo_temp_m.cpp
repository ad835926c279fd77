#include "devices/photo_temp_m.hpp"

#include "devices/adc_m.hpp"
#include "kernel/atomic.hpp"
#include "kernel/dbg.hpp"
#include "kernel/io_pins.hpp"
#include "kernel/per_mote.hpp"
#include "kernel/scheduler.hpp"
#include "kernel/timer_m.hpp"

namespace PhotoTempM {
namespace {
PerMote<Vars> photo_temp;
DataReadyHandler external_photo = nullptr;
DataReadyHandler external_temp = nullptr;

result_t InternalPhotoADC_getData() { return ADCM::ADC_getData(VEX_ADC_PHOTO_PORT); }
result_t InternalTempADC_getData() { return ADCM::ADC_getData(VEX_ADC_TEMP_PORT); }

void getSample();

// Powers one sensor, unpowers the other and starts the warm-up.
void warm_up(Vars& v, int32_t starting, bool photo) {
  v.hardwareStatus = starting;
  if (photo) {
    VEXH_SET_PHOTO_CTL_PIN();
    VEXH_MAKE_PHOTO_CTL_OUTPUT();
    VEXH_CLR_TEMP_CTL_PIN();
    VEXH_MAKE_TEMP_CTL_INPUT();
  } else {
    VEXH_CLR_PHOTO_CTL_PIN();
    VEXH_MAKE_PHOTO_CTL_INPUT();
    VEXH_SET_TEMP_CTL_PIN();
    VEXH_MAKE_TEMP_CTL_OUTPUT();
  }
  TimerM::Timer_stop(TIMER_PHOTO_TEMP);
  uint8_t atomic = __quil_atomic_start();
  v.waitingForSample = true;
  __quil_atomic_end(atomic);
  // The other sensor is served next.
  v.getSample_photoIsNext = !photo;
  if (TimerM::Timer_start(TIMER_PHOTO_TEMP, TIMER_ONE_SHOT, WARM_UP_INTERVAL) == FAIL) {
    v.hardwareStatus = sensorIdle;
    VEX_post(getSample);
  }
}

// Converts the warmed-up sensor, or tries again later when ADCM refuses.
void convert(Vars& v, bool photo) {
  uint8_t atomic = __quil_atomic_start();
  v.waitingForSample = true;
  __quil_atomic_end(atomic);
  result_t ok = photo ? InternalPhotoADC_getData() : InternalTempADC_getData();
  if (ok == SUCCESS) {
    v.getSample_photoIsNext = !photo;
  } else {
    VEX_post(getSample);
  }
}

void getSample() {
  Vars& v = photo_temp();
  bool skip = false;
  uint8_t atomic = __quil_atomic_start();
  if (v.waitingForSample) skip = true;
  if (v.photoSensor == stateIdle && v.tempSensor == stateIdle) skip = true;
  if (v.photoSensor == stateIdle) v.getSample_photoIsNext = false;
  if (v.tempSensor == stateIdle) v.getSample_photoIsNext = true;
  __quil_atomic_end(atomic);
  if (skip) return;

  if (v.getSample_photoIsNext) {
    switch (v.hardwareStatus) {
      case sensorIdle:
      case sensorTempReady: warm_up(v, sensorPhotoStarting, true); break;
      case sensorPhotoReady: convert(v, true); break;
      default: break;  // a warm-up is running
    }
  } else {
    switch (v.hardwareStatus) {
      case sensorIdle:
      case sensorPhotoReady: warm_up(v, sensorTempStarting, false); break;
      case sensorTempReady: convert(v, false); break;
      default: break;
    }
  }
}

result_t request(SensorState_t Vars::*sensor) {
  uint8_t atomic = __quil_atomic_start();
  photo_temp().*sensor = stateReadOnce;
  __quil_atomic_end(atomic);
  VEX_post(getSample);
  return SUCCESS;
}

// A reading arrived: the path is free again and the next request can go.
result_t completed(SensorState_t Vars::*sensor, DataReadyHandler external, uint16_t data) {
  Vars& v = photo_temp();
  uint8_t atomic = __quil_atomic_start();
  v.waitingForSample = false;
  if (v.*sensor != stateContinuous) v.*sensor = stateIdle;
  __quil_atomic_end(atomic);
  VEX_post(getSample);
  return external != nullptr ? external(data) : FAIL;
}
}  // namespace

result_t PhotoStdControl_init() {
  ADCM::ADCControl_bindPort(VEX_ADC_PHOTO_PORT, VEXH_ACTUAL_PHOTO_PORT);
  TimerM::StdControl_init();
  photo_temp().photoSensor = stateIdle;
  dbg(DBG_BOOT, "PHOTO initialized.\n");
  return ADCM::ADCControl_init();
}

result_t PhotoStdControl_start() {
  photo_temp().photoSensor = stateIdle;
  return SUCCESS;
}

result_t PhotoStdControl_stop() {
  photo_temp().photoSensor = stateIdle;
  return SUCCESS;
}

result_t TempStdControl_init() {
  ADCM::ADCControl_bindPort(VEX_ADC_TEMP_PORT, VEXH_ACTUAL_TEMP_PORT);
  TimerM::StdControl_init();
  photo_temp().tempSensor = stateIdle;
  dbg(DBG_BOOT, "TEMP initialized.\n");
  return ADCM::ADCControl_init();
}

result_t TempStdControl_start() {
  photo_temp().tempSensor = stateIdle;
  return SUCCESS;
}

result_t TempStdControl_stop() {
  photo_temp().tempSensor = stateIdle;
  return SUCCESS;
}

result_t ExternalPhotoADC_getData() { return request(&Vars::photoSensor); }
result_t ExternalTempADC_getData() { return request(&Vars::tempSensor); }

result_t InternalPhotoADC_dataReady(uint16_t data) {
  return completed(&Vars::photoSensor, external_photo, data);
}

result_t InternalTempADC_dataReady(uint16_t data) {
  return completed(&Vars::tempSensor, external_temp, data);
}

result_t Timer_fired() {
  Vars& v = photo_temp();
  if (v.hardwareStatus == sensorPhotoStarting) {
    v.hardwareStatus = sensorPhotoReady;
    if (InternalPhotoADC_getData() == SUCCESS) return SUCCESS;
  } else if (v.hardwareStatus == sensorTempStarting) {
    v.hardwareStatus = sensorTempReady;
    if (InternalTempADC_getData() == SUCCESS) return SUCCESS;
  }
  uint8_t atomic = __quil_atomic_start();
  v.waitingForSample = false;
  __quil_atomic_end(atomic);
  VEX_post(getSample);
  return SUCCESS;
}

void set_external_handlers(DataReadyHandler photo, DataReadyHandler temp) {
  external_photo = photo;
  external_temp = temp;
}

Vars& vars_of(int mote) { return photo_temp.of(mote); }
}  // namespace PhotoTempM

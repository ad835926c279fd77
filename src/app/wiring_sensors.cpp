#include "app/wiring.hpp"
#include "devices/adc_m.hpp"
#include "devices/mag_m.hpp"
#include "devices/photo_temp_m.hpp"
#include "kernel/timer_m.hpp"
#include "streams/sensor_stream.hpp"

void wire_sensors() {
  // Readings up from the sensor board to the sensor streams.
  PhotoTempM::set_external_handlers(SSToAppM::PhotoADC_dataReady, SSToAppM::TempADC_dataReady);
  MagM::set_data_ready_handlers(SSToAppM::MagX_dataReady, SSToAppM::MagY_dataReady);
  ADCM::set_data_ready_handler(VEX_ADC_MIC_PORT, SSToAppM::MicADC_dataReady);
  ADCM::set_data_ready_handler(VEX_ADC_ACCEL_X_PORT, SSToAppM::AccelX_dataReady);
  ADCM::set_data_ready_handler(VEX_ADC_ACCEL_Y_PORT, SSToAppM::AccelY_dataReady);

  // The light and temperature warm-up, and the streams' sampling timers.
  TimerM::set_fired_handler(TIMER_PHOTO_TEMP, PhotoTempM::Timer_fired);
  TimerM::set_fired_handler(TIMER_LIGHT, SSToAppM::TimerLight_fired);
  TimerM::set_fired_handler(TIMER_TEMP, SSToAppM::TimerTemp_fired);
  TimerM::set_fired_handler(TIMER_VOICE, SSToAppM::TimerVoice_fired);
  TimerM::set_fired_handler(TIMER_MAG_X, SSToAppM::TimerMagX_fired);
  TimerM::set_fired_handler(TIMER_MAG_Y, SSToAppM::TimerMagY_fired);
  TimerM::set_fired_handler(TIMER_ACCEL_X, SSToAppM::TimerAccelX_fired);
  TimerM::set_fired_handler(TIMER_ACCEL_Y, SSToAppM::TimerAccelY_fired);
}

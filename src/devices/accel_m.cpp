#include "devices/accel_m.hpp"

#include "devices/adc_m.hpp"
#include "kernel/dbg.hpp"
#include "kernel/io_pins.hpp"

namespace AccelM {
result_t StdControl_init() {
  ADCM::ADCControl_bindPort(VEX_ADC_ACCEL_X_PORT, VEXH_ACTUAL_ACCEL_X_PORT);
  ADCM::ADCControl_bindPort(VEX_ADC_ACCEL_Y_PORT, VEXH_ACTUAL_ACCEL_Y_PORT);
  VEXH_MAKE_ACCEL_CTL_OUTPUT();
  VEXH_SET_ACCEL_CTL_PIN();
  dbg(DBG_BOOT, "ACCEL initialized.\n");
  return ADCM::ADCControl_init();
}

result_t StdControl_start() {
  VEXH_SET_ACCEL_CTL_PIN();
  return SUCCESS;
}

result_t StdControl_stop() {
  VEXH_CLR_ACCEL_CTL_PIN();
  return SUCCESS;
}
}  // namespace AccelM

#include "devices/hpl_adcc.hpp"

#include "devices/adc_event.hpp"
#include "devices/adc_m.hpp"
#include "devices/power_state_m.hpp"

namespace HPLADCC {
result_t ADC_init() {
  PowerStateM::ADCon();
  VEXH_adc_init();
  return SUCCESS;
}

result_t ADC_bindPort(uint8_t, uint8_t) { return SUCCESS; }

result_t ADC_samplePort(uint8_t port) {
  PowerStateM::ADCsample(port);
  VEXH_adc_sample_port(port);
  return SUCCESS;
}

result_t ADC_sampleStop() {
  VEXH_adc_sample_stop();
  return SUCCESS;
}

result_t ADC_dataReady(uint16_t data) { return ADCM::HPLADC_dataReady(data); }
}  // namespace HPLADCC

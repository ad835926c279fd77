#include "devices/mic_m.hpp"

#include "devices/adc_m.hpp"
#include "devices/i2c_pot_m.hpp"
#include "kernel/io_pins.hpp"

namespace MicM {
result_t StdControl_init() {
  ADCM::ADCControl_bindPort(VEX_ADC_MIC_PORT, VEXH_ACTUAL_MIC_PORT);
  VEXH_MAKE_MIC_CTL_OUTPUT();
  VEXH_CLR_MIC_CTL_PIN();
  VEXH_MAKE_MIC_MUX_SEL_OUTPUT();
  VEXH_CLR_MIC_MUX_SEL_PIN();
  VEXH_MAKE_TONE_DECODE_SIGNAL_INPUT();
  MicInterrupt_disable();
  result_t adc = ADCM::ADCControl_init();
  return rcombine(adc, I2CPotM::StdControl_init());
}

result_t StdControl_start() {
  VEXH_SET_MIC_CTL_PIN();
  return SUCCESS;
}

result_t StdControl_stop() {
  MicInterrupt_disable();
  VEXH_MAKE_MIC_CTL_OUTPUT();
  VEXH_CLR_MIC_CTL_PIN();
  return SUCCESS;
}

result_t Mic_muxSel(uint8_t sel) {
  if (sel == 0) {
    VEXH_CLR_MIC_MUX_SEL_PIN();
    return SUCCESS;
  }
  if (sel == 1) {
    VEXH_SET_MIC_MUX_SEL_PIN();
    return SUCCESS;
  }
  return FAIL;
}

result_t Mic_gainAdjust(uint8_t gain) { return I2CPotM::I2CPot_writePot(VEX_MIC_POT_ADDR, 0, gain); }

// The tone-decoder interrupt is bit 7 of I/O port 0x80.
result_t MicInterrupt_disable() {
  clear_io_bit(0x80, 7);
  return SUCCESS;
}

result_t I2CPot_writePotDone(result_t) { return SUCCESS; }
result_t I2CPot_readPotDone(uint8_t, result_t) { return SUCCESS; }
}  // namespace MicM

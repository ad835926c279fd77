#include "devices/mag_m.hpp"

#include "devices/adc_m.hpp"
#include "devices/adc_model.hpp"
#include "kernel/dbg.hpp"
#include "kernel/scheduler.hpp"
#include "kernel/vex_state.hpp"

namespace MagM {
namespace {
DataReadyHandler handler_x = nullptr;
DataReadyHandler handler_y = nullptr;

// The magnetometer's own converter control and power switch are not
// connected to anything on this board.
result_t ADCControl_bindPort(uint8_t, uint8_t) { return SUCCESS; }
void power(bool) {}

void deliver(uint8_t port, DataReadyHandler handler) {
  uint16_t value = generic_adc_read(VEX_LOCAL_ADDRESS, port, 0);
  if (handler != nullptr) handler(value);
}

void MagX_dataReady() { deliver(PORT_MAGX, handler_x); }
void MagY_dataReady() { deliver(PORT_MAGY, handler_y); }
}  // namespace

result_t StdControl_init() {
  ADCControl_bindPort(VEX_ADC_MAG_X_PORT, VEXH_ACTUAL_MAG_X_PORT);
  ADCControl_bindPort(VEX_ADC_MAG_Y_PORT, VEXH_ACTUAL_MAG_Y_PORT);
  power(false);
  dbg(DBG_BOOT, "MAG initialized.\n");
  return SUCCESS;
}

result_t StdControl_start() {
  power(true);
  return SUCCESS;
}

result_t StdControl_stop() {
  power(false);
  return SUCCESS;
}

result_t MagX_getData() {
  dbg(DBG_USR1, "(MAG READ ADC) [orlasb] [x]\n");
  return VEX_post(MagX_dataReady);
}

result_t MagY_getData() {
  dbg(DBG_USR1, "(MAG READ ADC) [orlasb] [y]\n");
  return VEX_post(MagY_dataReady);
}

void set_data_ready_handlers(DataReadyHandler x, DataReadyHandler y) {
  handler_x = x;
  handler_y = y;
}
}  // namespace MagM

#include "devices/adc_m.hpp"

#include <array>

#include "devices/hpl_adcc.hpp"
#include "devices/photo_temp_m.hpp"
#include "kernel/atomic.hpp"
#include "kernel/dbg.hpp"
#include "kernel/per_mote.hpp"

namespace ADCM {
namespace {
PerMote<Vars> adc_m;
std::array<DataReadyHandler, REQUEST_PORTS> consumers{};

// The request-vector bit of a port; none for ports the vector cannot hold.
constexpr uint16_t port_bit(unsigned port) {
  return port < REQUEST_PORTS ? static_cast<uint16_t>(1u << port) : 0;
}

result_t startGet(uint8_t kind, uint8_t port) {
  // A port without a bit could be neither remembered nor told apart from the
  // conversion in progress, so it is refused rather than lost.
  const uint16_t mask = port_bit(port);
  if (mask == 0) return FAIL;
  Vars& v = adc_m();
  result_t result = SUCCESS;
  uint8_t atomic = __quil_atomic_start();
  if (v.ReqVector & mask) {
    result = FAIL;
  } else {
    uint16_t old = v.ReqVector;
    v.ReqVector |= mask;
    if (kind == CONTINUOUS_CONVERSION) v.ContReqMask |= mask;
    if (old == 0) {
      v.ReqPort = port;
      result = HPLADCC::ADC_samplePort(port);
    }
  }
  __quil_atomic_end(atomic);
  return result;
}

result_t ADC_dataReady(uint8_t port, uint16_t data) {
  switch (port) {
    case VEX_ADC_PHOTO_PORT: return PhotoTempM::InternalPhotoADC_dataReady(data);
    case VEX_ADC_TEMP_PORT: return PhotoTempM::InternalTempADC_dataReady(data);
    default: {
      DataReadyHandler handler = port < REQUEST_PORTS ? consumers[port] : nullptr;
      return handler != nullptr ? handler(data) : FAIL;
    }
  }
}
}  // namespace

result_t ADCControl_init() {
  Vars& v = adc_m();
  uint8_t atomic = __quil_atomic_start();
  v.ReqPort = 0;
  v.ReqVector = 0;
  v.ContReqMask = 0;
  __quil_atomic_end(atomic);
  dbg(DBG_BOOT, "ADC initialized.\n");
  return HPLADCC::ADC_init();
}

result_t ADCControl_bindPort(uint8_t port, uint8_t adcPort) {
  return HPLADCC::ADC_bindPort(port, adcPort);
}

result_t ADC_getData(uint8_t port) { return startGet(SINGLE_CONVERSION, port); }

result_t ADC_getContinuousData(uint8_t port) { return startGet(CONTINUOUS_CONVERSION, port); }

result_t HPLADC_dataReady(uint16_t data) {
  Vars& v = adc_m();
  uint8_t atomic = __quil_atomic_start();
  const auto donePort = static_cast<uint8_t>(v.ReqPort & 0xFF);
  const uint16_t doneBit = port_bit(donePort);
  if (!(v.ContReqMask & doneBit)) {
    HPLADCC::ADC_sampleStop();
    v.ReqVector &= static_cast<uint16_t>(~doneBit);
  }
  if (v.ReqVector != 0) {
    // Round-robin: the next pending port after the one just converted, the
    // search wrapping after port 254. No port above 15 can be pending, so the
    // search wraps as soon as it passes 15: the port found is the same.
    do {
      ++v.ReqPort;
      if (v.ReqPort >= VEXH_ADC_PORTMAPSIZE || v.ReqPort >= REQUEST_PORTS) v.ReqPort = 0;
    } while (!(v.ReqVector & port_bit(v.ReqPort)));
    HPLADCC::ADC_samplePort(static_cast<uint8_t>(v.ReqPort));
  }
  __quil_atomic_end(atomic);

  dbg(DBG_ADC, "adc_tick: port %d with value %i \n", donePort, data);
  result_t consumed = ADC_dataReady(donePort, data);

  atomic = __quil_atomic_start();
  if (consumed == FAIL && (v.ContReqMask & doneBit)) {
    HPLADCC::ADC_sampleStop();
    v.ContReqMask &= static_cast<uint16_t>(~doneBit);
  }
  __quil_atomic_end(atomic);
  return SUCCESS;
}

void set_data_ready_handler(uint8_t port, DataReadyHandler handler) {
  if (port < REQUEST_PORTS) consumers[port] = handler;
}

Vars& vars_of(int mote) { return adc_m.of(mote); }
}  // namespace ADCM

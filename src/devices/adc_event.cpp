#include "devices/adc_event.hpp"

#include <utility>

#include "devices/adc_model.hpp"
#include "devices/hpl_adcc.hpp"
#include "devices/power_state_m.hpp"
#include "kernel/client_events.hpp"
#include "kernel/dbg.hpp"
#include "kernel/schedule.hpp"
#include "kernel/vex_state.hpp"
#include "kernel/world.hpp"

std::array<AdcEmulation, VEXNODES> adcEvents{};
std::array<int8_t, VEXNODES> adcSamplingRates{};

namespace {
const WorldReset clear_converters{[] {
  for (AdcEmulation& adc : adcEvents) {
    if (adc.parked || adc.generation != 0 || adc.data.valid != 0 || adc.data.port != 0) {
      adc = AdcEmulation{};
    }
  }
  restore_table(adcSamplingRates);
}};

std::unique_ptr<AdcTickEvent> new_event(AdcEmulation& adc) {
  auto event = std::make_unique<AdcTickEvent>();
  dbg(DBG_MEM, "malloc adc tick event: 0x%x.\n", memory_label(*event));
  dbg(DBG_MEM, "malloc data entry for adc event: 0x%x\n", memory_label(*event));
  // Any event of this mote still queued is superseded by this one.
  ++adc.generation;
  event->generation = adc.generation;
  event->cleanup = EventCleanup::total;
  return event;
}

// The ADCDataReadyEvent record: port, one pad byte, the 16-bit reading.
void report(int mote, uint8_t port, uint16_t value, vex_time_t time) {
  const uint8_t payload[4] = {port, 0, static_cast<uint8_t>(value & 0xFF),
                              static_cast<uint8_t>(value >> 8)};
  sendVarnixEvent(static_cast<uint16_t>(mote), AM_ADCDATAREADYEVENT, time, payload,
                  sizeof payload);
}
}  // namespace

void VEXH_adc_init() {}

void VEXH_adc_sample_port(uint8_t port) {
  int mote = vex_state.current_node;
  AdcEmulation& adc = adcEvents[mote];
  dbg(DBG_ADC, "ADC: request for port %i\n", port);
  std::unique_ptr<AdcTickEvent> event = std::move(adc.parked);
  if (!event) event = new_event(adc);
  event->time = sim::now() + adcSamplingRates[mote];
  event->mote = mote;
  event->pause = 0;
  event->force = 0;
  adc.data.valid = 1;
  adc.data.port = port;
  sim::schedule(std::move(event));
}

void VEXH_adc_sample_stop() { adcEvents[vex_state.current_node].data.valid = 0; }

void VEXH_adc_data_ready(uint16_t value) {
  PowerStateM::ADCdataReady();
  HPLADCC::ADC_dataReady(value);
}

void AdcTickEvent::handle(EventPtr self, VEX_state_t&) {
  const int m = mote;
  AdcEmulation& adc = adcEvents[m];
  if (generation != adc.generation) {
    event_cleanup(std::move(self));
    return;
  }
  // Parked while the reading goes up, so that a request made on the way
  // (the driver moving on to the next pending port) re-arms this very event.
  adc.parked.reset(static_cast<AdcTickEvent*>(self.release()));
  const uint8_t port = adc.data.port;
  auto value = static_cast<uint16_t>(adc_model_read(m, port, sim::now()));
  VEXH_adc_data_ready(value);
  // The port converted, even when the driver has since re-armed for another.
  report(m, port, value, sim::now());
  if (adc.data.valid && adc.parked) sim::schedule(std::move(adc.parked));
}

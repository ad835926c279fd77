#include "devices/adc_model.hpp"

#include <array>
#include <cstdlib>
#include <mutex>

#include "kernel/dbg.hpp"
#include "kernel/world.hpp"

namespace {
// Readings of every port of every mote. Zero-filled at start; the generic
// model's init marks them unset, the random model leaves them at 0 (only the
// magnetometer reads them then).
std::array<std::array<uint16_t, ADC_NUM_PORTS_PER_NODE>, VEXNODES> adcValues{};
std::mutex adcValuesLock;

std::unique_ptr<adc_model> selected;

const WorldReset clear_adc_model{[] {
  std::lock_guard<std::mutex> guard(adcValuesLock);
  for (auto& row : adcValues) restore_table(row);
  selected.reset();
}};

uint16_t random_reading() { return static_cast<uint16_t>(std::rand() & 0x3FF); }
}  // namespace

std::unique_ptr<adc_model> create_generic_adc_model() {
  return std::make_unique<adc_model>(adc_model{generic_adc_init, generic_adc_read});
}

std::unique_ptr<adc_model> create_random_adc_model() {
  return std::make_unique<adc_model>(adc_model{random_adc_init, random_adc_read});
}

void create_adc_model(bool random) {
  {
    std::lock_guard<std::mutex> guard(adcValuesLock);
    for (auto& row : adcValues) row.fill(0);
  }
  selected = random ? create_random_adc_model() : create_generic_adc_model();
}

void adc_model_init() {
  if (selected) selected->init();
}

uint16_t adc_model_read(int moteID, uint8_t port, vex_time_t time) {
  if (selected) return selected->read(moteID, port, time);
  return generic_adc_read(moteID, port, time);
}

void generic_adc_init() {
  std::lock_guard<std::mutex> guard(adcValuesLock);
  for (auto& row : adcValues) row.fill(ADC_VALUE_UNSET);
}

uint16_t generic_adc_read(int moteID, uint8_t port, vex_time_t) {
  if (moteID < 0 || moteID >= VEXNODES) {
    dbg(DBG_ERROR,
        "GENERIC_ADC_MODEL: trying to read value with invalid parameters: [moteID = %d] [port = "
        "%d]",
        moteID, port);
    return ADC_VALUE_UNSET;
  }
  uint16_t value;
  {
    std::lock_guard<std::mutex> guard(adcValuesLock);
    value = adcValues[moteID][port];
  }
  return value == ADC_VALUE_UNSET ? random_reading() : value;
}

void random_adc_init() {}

uint16_t random_adc_read(int, uint8_t, vex_time_t) { return random_reading(); }

void set_adc_value(uint16_t mote, uint8_t port, uint16_t value) {
  if (mote >= VEXNODES) {
    dbg(DBG_ERROR,
        "GENERIC_ADC_MODEL: trying to set value with invalid parameters: [moteID = %d] [port = "
        "%d]",
        mote, port);
    return;
  }
  std::lock_guard<std::mutex> guard(adcValuesLock);
  adcValues[mote][port] = value;
}

#pragma once
// The seven sensors of a mote: the id a sensor stream names, the word a
// query file uses, and the ADC port whose conversions the sensor reads.

#include <array>
#include <cstdint>
#include <string_view>

namespace protocol {
// Sensor ids (0 marks no sensor).
constexpr uint8_t LIGHT = 1;
constexpr uint8_t TEMPERATURE = 2;
constexpr uint8_t VOICE = 3;
constexpr uint8_t MAGNETISMX = 4;
constexpr uint8_t MAGNETISMY = 5;
constexpr uint8_t ACCELERATIONX = 6;
constexpr uint8_t ACCELERATIONY = 7;
constexpr uint8_t NUM_SENSORS = 7;

// A sensor stream's record: mote address, timestamp, epoch and reading,
// each two bytes, high byte first.
constexpr uint8_t SENSOR_RECORD_SIZE = 8;

struct SensorInfo {
  uint8_t id;
  const char* name;
  uint8_t adc_port;    // the converter port the sensor component binds
  // The port of the ADC value table its readings come from, the one a
  // client sets: the converter port, except for the magnetometer, which
  // reads table ports 120 and 121 directly and never converts.
  uint8_t value_port;
};

// By id, 1 to 7.
inline constexpr std::array<SensorInfo, NUM_SENSORS> sensors = {{
    {LIGHT, "light", 1, 1},
    {TEMPERATURE, "temperature", 2, 2},
    {VOICE, "voice", 3, 3},
    {MAGNETISMX, "magx", 6, 120},
    {MAGNETISMY, "magy", 8, 121},
    {ACCELERATIONX, "accelx", 4, 4},
    {ACCELERATIONY, "accely", 5, 5},
}};

// The sensor with id `id`; null for 0 and ids past 7.
constexpr const SensorInfo* sensor_by_id(uint8_t id) {
  for (const SensorInfo& s : sensors) {
    if (s.id == id) return &s;
  }
  return nullptr;
}
constexpr const SensorInfo* sensor_by_name(std::string_view name) {
  for (const SensorInfo& s : sensors) {
    if (name == s.name) return &s;
  }
  return nullptr;
}
// The ADC port of a sensor id; 0 for no sensor.
constexpr uint8_t adc_port_of(uint8_t id) {
  for (const SensorInfo& s : sensors) {
    if (s.id == id) return s.adc_port;
  }
  return 0;
}

static_assert([] {
  for (uint8_t i = 0; i < sensors.size(); ++i) {
    if (sensors[i].id != i + 1) return false;
  }
  return true;
}());
}  // namespace protocol

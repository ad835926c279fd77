#pragma once
// The seven sensors of a mote: the id a sensor stream names, the word a
// query file uses, the ADC port whose conversions the sensor reads, and the
// entry of the ADC value table its readings come from (what a client sets).

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

// A converter has 10 bits: its values are 0 to 1023. A sensor record
// carries the value shifted right by 2, so every reading fits in one byte.
constexpr uint16_t CONVERTER_MAX = 1023;
constexpr int READING_SHIFT = 2;
// Stored in the ADC value table, this marks an entry unset: its readings
// are random again.
constexpr uint16_t ADC_VALUE_UNSET = 0xFFFF;

// The magnetometer is not read through the converter: its readings are the
// value table's entries 120 (X) and 121 (Y).
constexpr uint8_t MAGX_TABLE_PORT = 120;
constexpr uint8_t MAGY_TABLE_PORT = 121;

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
    {MAGNETISMX, "magx", 6, MAGX_TABLE_PORT},
    {MAGNETISMY, "magy", 8, MAGY_TABLE_PORT},
    {ACCELERATIONX, "accelx", 4, 4},
    {ACCELERATIONY, "accely", 5, 5},
}};

// Whether any reading comes from this entry of the value table: the
// converter's ports 0 to 15 (it keeps its requests in a 16-bit mask) and the
// magnetometer's two entries. Setting any other entry changes nothing.
constexpr bool value_port_is_read(unsigned port) {
  return port < 16 || port == MAGX_TABLE_PORT || port == MAGY_TABLE_PORT;
}

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

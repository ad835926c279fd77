#include "streams/sensor_stream.hpp"

#include <array>

#include "devices/adc_m.hpp"
#include "devices/leds_m.hpp"
#include "devices/mag_m.hpp"
#include "devices/photo_temp_m.hpp"
#include "kernel/atomic.hpp"
#include "kernel/dbg.hpp"
#include "kernel/per_mote.hpp"
#include "kernel/scheduler.hpp"
#include "kernel/timer_m.hpp"
#include "kernel/vex_state.hpp"
#include "streams/ss_to_app.hpp"
#include "streams/stream_kinds.hpp"

namespace SSToAppM {
namespace {
PerMote<SensorVars> sensor_vars;

const StreamTexts sensor_texts = {
    "stream di sensore --- dato disponibile -> segnalo readDone\n",
    "stream di sensore --- buffer vuoto o nessun nuovo dato, impossibile memorizzare la READ\n",
    "stream di sensore --- buffer vuoto o nessun nuovo dato, READ memorizzata\n",
    "sensor stream --- richieste di READ pendenti -> segnalo readDone\n",
};

// How each sensor is sampled and named in the trace lines.
struct Sensor {
  uint8_t timer;
  const char* name;  // "Chiedo <name>", "rilevata <name> = <value>"
  result_t (*getData)();
  uint16_t SensorVars::*data;
  uint16_t SensorVars::*timestamp;
};

constexpr std::array<Sensor, NUM_SENSORS> sensors = {{
    {TIMER_LIGHT, "la luminosita'", PhotoTempM::ExternalPhotoADC_getData,
     &SensorVars::insertDataTaskLight_data, &SensorVars::insertDataTaskLight_timestamp},
    {TIMER_TEMP, "la temperatura", PhotoTempM::ExternalTempADC_getData,
     &SensorVars::insertDataTaskTemp_data, &SensorVars::insertDataTaskTemp_timestamp},
    {TIMER_VOICE, "la voce", [] { return ADCM::ADC_getData(VEX_ADC_MIC_PORT); },
     &SensorVars::insertDataTaskVoice_data, &SensorVars::insertDataTaskVoice_timestamp},
    {TIMER_MAG_X, "il magnetismo lungo X", MagM::MagX_getData,
     &SensorVars::insertDataTaskMagX_data, &SensorVars::insertDataTaskMagX_timestamp},
    {TIMER_MAG_Y, "il magnetismo lungo Y", MagM::MagY_getData,
     &SensorVars::insertDataTaskMagY_data, &SensorVars::insertDataTaskMagY_timestamp},
    {TIMER_ACCEL_X, "l'accelerazione lungo X", [] { return ADCM::ADC_getData(VEX_ADC_ACCEL_X_PORT); },
     &SensorVars::insertDataTaskAccelX_data, &SensorVars::insertDataTaskAccelX_timestamp},
    {TIMER_ACCEL_Y, "l'accelerazione lungo Y", [] { return ADCM::ADC_getData(VEX_ADC_ACCEL_Y_PORT); },
     &SensorVars::insertDataTaskAccelY_data, &SensorVars::insertDataTaskAccelY_timestamp},
}};

// The sensor behind an id; null for 0 and for ids above 7 (no sensor).
const Sensor* sensor_of(uint8_t sensor_tid) {
  if (sensor_tid == 0 || sensor_tid > NUM_SENSORS) return nullptr;
  return &sensors[sensor_tid - 1];
}

uint8_t deliver(stream_type desc, int8_t* buf, uint8_t nbytes) {
  return signal_readDone(desc, buf, nbytes);
}

void put_be16(int8_t* at, uint16_t value) {
  at[0] = static_cast<int8_t>(value >> 8);
  at[1] = static_cast<int8_t>(value & 0xFF);
}

template <uint8_t Id>
result_t timer_fired() {
  const Sensor& sensor = sensors[Id - 1];
  dbg(DBG_AM, "Chiedo %s\n", sensor.name);
  sensor.getData();
  return SUCCESS;
}

template <uint8_t Id>
void insert_task() {
  const Sensor& sensor = sensors[Id - 1];
  SensorVars& v = sensor_vars();
  uint8_t atomic = __quil_atomic_start();
  const uint16_t data = v.*sensor.data;
  const uint16_t ts = v.*sensor.timestamp;
  __quil_atomic_end(atomic);
  dbg(DBG_AM, "rilevata %s = %i\n", sensor.name, data);
  insertDataSensorStream(Id, data, ts);
}

template <uint8_t Id>
result_t data_ready(uint16_t reading) {
  if constexpr (Id == LIGHT) LedsM::redToggle();
  if constexpr (Id == TEMPERATURE) LedsM::greenToggle();
  const Sensor& sensor = sensors[Id - 1];
  SensorVars& v = sensor_vars();
  uint8_t atomic = __quil_atomic_start();
  v.*sensor.data = static_cast<uint16_t>(reading >> 2);
  v.*sensor.timestamp = vars().timestamp;
  __quil_atomic_end(atomic);
  return VEX_post(insert_task<Id>);
}
}  // namespace

SensorVars& sensor_vars_of(int mote) { return sensor_vars.of(mote); }

result_t TimerLight_fired() { return timer_fired<LIGHT>(); }
result_t TimerTemp_fired() { return timer_fired<TEMPERATURE>(); }
result_t TimerVoice_fired() { return timer_fired<VOICE>(); }
result_t TimerMagX_fired() { return timer_fired<MAGNETISMX>(); }
result_t TimerMagY_fired() { return timer_fired<MAGNETISMY>(); }
result_t TimerAccelX_fired() { return timer_fired<ACCELERATIONX>(); }
result_t TimerAccelY_fired() { return timer_fired<ACCELERATIONY>(); }

result_t PhotoADC_dataReady(uint16_t data) { return data_ready<LIGHT>(data); }
result_t TempADC_dataReady(uint16_t data) { return data_ready<TEMPERATURE>(data); }
result_t MicADC_dataReady(uint16_t data) { return data_ready<VOICE>(data); }
result_t MagX_dataReady(uint16_t data) { return data_ready<MAGNETISMX>(data); }
result_t MagY_dataReady(uint16_t data) { return data_ready<MAGNETISMY>(data); }
result_t AccelX_dataReady(uint16_t data) { return data_ready<ACCELERATIONX>(data); }
result_t AccelY_dataReady(uint16_t data) { return data_ready<ACCELERATIONY>(data); }

void insertDataSensorStream(uint8_t sensor_tid, uint16_t data, uint16_t ts) {
  Vars& v = vars();
  for (int8_t no = 0; no < STREAM_ENTRIES; ++no) {
    SSDT_Entry& entry = v.sensor_table[no];
    if (entry.sensor_tid != sensor_tid) continue;
    int8_t record[SENSOR_RECORD_SIZE];
    put_be16(record, VEX_LOCAL_ADDRESS);
    put_be16(record + 2, ts);
    put_be16(record + 4, v.epotime);
    put_be16(record + 6, data);
    const stream_type desc{SSDT_ID, no};
    if (entry.sampling_type == ON_DEMAND) {
      // Straight to the reader; nothing is stored and no waiting read is used.
      signal_readDone(desc, record, SENSOR_RECORD_SIZE);
    } else {
      ring_insert(entry, desc, sensor_texts, record, SENSOR_RECORD_SIZE, deliver);
    }
    return;
  }
}

stream_type SSToApp_open_s(uint8_t sensor_tid, uint32_t stream_rate, uint8_t buffer_size,
                           uint8_t sampling_type) {
  const stream_type refused{SSDT_ID, INVALID_DESCRIPTOR};
  if (sensor_tid == 0) return refused;
  // Only these two kinds have somewhere to put a reading: a periodic stream
  // stores it in its ring, an on-demand one hands it to the reader.
  if (sampling_type != PERIODIC && sampling_type != ON_DEMAND) return refused;
  Vars& v = vars();
  int8_t free_no = -1;
  for (int8_t no = 0; no < STREAM_ENTRIES; ++no) {
    const uint8_t tid = v.sensor_table[no].sensor_tid;
    if (tid == sensor_tid) return refused;  // one stream per sensor and mote
    if (tid == 0 && free_no < 0) free_no = no;
  }
  if (free_no < 0) return refused;

  SSDT_Entry& entry = v.sensor_table[free_no];
  entry.sensor_tid = sensor_tid;
  entry.stream_rate = stream_rate;
  entry.sampling_type = sampling_type;
  if (sampling_type == ON_DEMAND) {
    // Cursors and read queue cleared, and no ring at all.
    entry.open_ring(0);
    entry.release();
    return {SSDT_ID, free_no};
  }
  entry.open_ring(buffer_size);
  if (const Sensor* sensor = sensor_of(sensor_tid)) {
    TimerM::Timer_start(sensor->timer, TIMER_REPEAT, stream_rate);
  }
  return {SSDT_ID, free_no};
}

result_t read_sensor(stream_type desc, uint8_t nbytes) {
  SSDT_Entry& entry = vars().sensor_table[desc.no];
  if (entry.sensor_tid == 0) return FAIL;
  dbg(DBG_AM, "stream di sensore --- richiesta di READ\n");
  if (entry.sampling_type == ON_DEMAND) {
    if (const Sensor* sensor = sensor_of(entry.sensor_tid)) {
      dbg(DBG_AM, "Chiedo %s on demand\n", sensor->name);
      sensor->getData();
    }
    return SUCCESS;
  }
  return ring_read(entry, desc, sensor_texts, nbytes, deliver);
}

result_t close_sensor(stream_type desc) {
  SSDT_Entry& entry = vars().sensor_table[desc.no];
  if (entry.sensor_tid == 0) return FAIL;
  if (entry.sampling_type == PERIODIC) {
    entry.release();
    if (const Sensor* sensor = sensor_of(entry.sensor_tid)) TimerM::Timer_stop(sensor->timer);
  }
  entry.stream_rate = 0;
  entry.sensor_tid = 0;
  entry.sampling_type = 0;
  return SUCCESS;
}
}  // namespace SSToAppM

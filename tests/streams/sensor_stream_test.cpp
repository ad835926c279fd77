// Sensor streams on a booted mote whose stream system is wired to the
// sensor board: periodic sampling into rings, on-demand reads, the records
// and the trace lines.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "app/wiring.hpp"
#include "devices/adc_m.hpp"
#include "devices/adc_model.hpp"
#include "devices/leds_m.hpp"
#include "devices/mag_m.hpp"
#include "kernel/clock.hpp"
#include "kernel/driver.hpp"
#include "kernel/pacing.hpp"
#include "kernel/per_mote.hpp"
#include "kernel/scheduler.hpp"
#include "kernel/timer_m.hpp"
#include "streams/sensor_stream.hpp"
#include "streams/ss_to_app.hpp"
#include "support/output.hpp"
#include "support/run.hpp"
#include "support/world_test.hpp"

namespace {
using support::output_of;

using SSToAppM::ACCELERATIONX;
using SSToAppM::LIGHT;
using SSToAppM::MAGNETISMX;
using SSToAppM::ON_DEMAND;
using SSToAppM::PERIODIC;
using SSToAppM::TEMPERATURE;

constexpr uint16_t kMote = 1;
constexpr vex_time_t kCount = 3906;  // ticks per timer count

struct Delivery {
  stream_type desc;
  std::vector<uint8_t> bytes;
  vex_time_t time;
  uint16_t timestamp_now;  // the stream system's counters when delivered
  uint16_t epoch_now;
};
std::vector<Delivery> delivered;
bool read_again = false;  // the reader asks for the next record from its handler

result_t on_read_done(stream_type desc, int8_t* buf, uint8_t nbytes, result_t success) {
  EXPECT_EQ(success, SUCCESS);
  auto bytes = reinterpret_cast<uint8_t*>(buf);
  delivered.push_back({desc,
                       {bytes, bytes + nbytes},
                       vex_state.vex_time.load(),
                       SSToAppM::vars().timestamp,
                       SSToAppM::vars().epotime});
  if (read_again) SSToAppM::SSToApp_read(desc, 8);
  return SUCCESS;
}

std::vector<uint8_t> record(uint16_t mote, uint16_t ts, uint16_t epoch, uint16_t value) {
  return {static_cast<uint8_t>(mote >> 8),  static_cast<uint8_t>(mote),
          static_cast<uint8_t>(ts >> 8),    static_cast<uint8_t>(ts),
          static_cast<uint8_t>(epoch >> 8), static_cast<uint8_t>(epoch),
          static_cast<uint8_t>(value >> 8), static_cast<uint8_t>(value)};
}

std::vector<uint8_t> led_events;
void record_client_event(uint16_t, uint16_t type, vex_time_t, const void* payload,
                         std::size_t) {
  if (type == AM_LEDEVENT) led_events.push_back(*static_cast<const uint8_t*>(payload));
}

class SensorStream : public WorldTest {
 protected:
  void SetUp() override {
    WorldTest::SetUp();
    delivered.clear();
    led_events.clear();
    read_again = false;
    create_adc_model(false);
    adc_model_init();
    wire_sensors();
    TimerM::set_fired_handler(TIMER_STAMP, SSToAppM::TimerStamp_fired);
    TimerM::set_fired_handler(TIMER_EPOCH, SSToAppM::TimerEpoch_fired);
    SSToAppM::set_application({on_read_done, nullptr});
    set_client_event_sink(record_client_event);
    support::unpaced();
    vex_state.num_nodes = 3;
    set_app_entry_points(
        {SSToAppM::StdControl_init, SSToAppM::StdControl_start, SSToAppM::StdControl_stop});
    brelo_start_mote(kMote);
    led_events.clear();
  }
  void TearDown() override {
    SSToAppM::set_application({});
    for (uint8_t id = 0; id < NUM_TIMERS; ++id) TimerM::set_fired_handler(id, nullptr);
    WorldTest::TearDown();
  }
  static void run_for(vex_time_t ticks) { support::run_loop_until(vex_state.vex_time + ticks); }
  static SSDT_Entry& entry(int no) { return SSToAppM::vars_of(kMote).sensor_table[no]; }
};
}  // namespace

TEST_F(SensorStream, PeriodicStreamSamplesAtItsRateIntoStampedBigEndianRecords) {
  set_adc_value(kMote, VEX_ADC_ACCEL_X_PORT, 401);  // stored shifted: 100
  stream_type s = SSToAppM::SSToApp_open_s(ACCELERATIONX, 500, 3, PERIODIC);
  ASSERT_EQ(s.table_id, SSDT_ID);
  ASSERT_EQ(s.no, 0);
  read_again = true;
  EXPECT_EQ(SSToAppM::SSToApp_read(s, 8), SUCCESS);  // waits for the first sample
  run_for(15600 * kCount);
  ASSERT_GE(delivered.size(), 30u);
  for (size_t i = 0; i < delivered.size(); ++i) {
    const Delivery& d = delivered[i];
    EXPECT_EQ(d.bytes, record(kMote, d.timestamp_now, d.epoch_now, 100)) << "record " << i;
    if (i > 0) {
      EXPECT_EQ(d.time - delivered[i - 1].time, 500 * kCount);
    }
  }
  // Both counters moved on during the run and the records followed them.
  EXPECT_EQ(delivered.front().bytes, record(kMote, 1, 0, 100));
  EXPECT_EQ(delivered.back().epoch_now, 1);
  EXPECT_GE(delivered.back().timestamp_now, 15);
}

TEST_F(SensorStream, AnUnreadRingKeepsTheLastSamplesAndTheNextReadGivesTheOldest) {
  // A fast timestamp tells the samples apart.
  vex_state.current_node = kMote;
  TimerM::Timer_start(TIMER_STAMP, TIMER_REPEAT, 30);
  stream_type s = SSToAppM::SSToApp_open_s(ACCELERATIONX, 100, 3, PERIODIC);
  run_for(560 * kCount);  // five samples
  const SSDT_Entry& e = entry(s.no);
  ASSERT_EQ(e.data_counter, 3);
  auto ts_in_slot = [&](int slot) {
    const int8_t* r = e.buffer[slot % 4].get();
    return static_cast<uint16_t>((static_cast<uint8_t>(r[2]) << 8) | static_cast<uint8_t>(r[3]));
  };
  std::vector<uint16_t> kept = {ts_in_slot(e.first), ts_in_slot(e.first + 1),
                                ts_in_slot(e.first + 2)};
  EXPECT_LT(kept[0], kept[1]);
  EXPECT_LT(kept[1], kept[2]);
  EXPECT_EQ(kept[2], SSToAppM::sensor_vars_of(kMote).insertDataTaskAccelX_timestamp);

  vex_state.current_node = kMote;
  for (int i = 0; i < 3; ++i) EXPECT_EQ(SSToAppM::SSToApp_read(s, 8), SUCCESS);
  ASSERT_EQ(delivered.size(), 3u);
  for (int i = 0; i < 3; ++i) {
    EXPECT_EQ(delivered[i].bytes[2] << 8 | delivered[i].bytes[3], kept[i]);
  }
  EXPECT_EQ(SSToAppM::SSToApp_read(s, 8), SUCCESS);  // nothing new: waits
  EXPECT_EQ(delivered.size(), 3u);
  EXPECT_EQ(entry(s.no).num_reads, 1);
}

TEST_F(SensorStream, LightAndTemperatureRecordsToggleTheirLeds) {
  set_adc_value(kMote, VEX_ADC_PHOTO_PORT, 1023);  // the largest reading is stored as 255
  set_adc_value(kMote, VEX_ADC_TEMP_PORT, 8);
  stream_type light = SSToAppM::SSToApp_open_s(LIGHT, 100, 2, PERIODIC);
  stream_type temp = SSToAppM::SSToApp_open_s(TEMPERATURE, 100, 2, PERIODIC);
  EXPECT_EQ(SSToAppM::SSToApp_read(light, 2), SUCCESS);  // two bytes: just the address
  EXPECT_EQ(SSToAppM::SSToApp_read(temp, 8), SUCCESS);
  run_for(150 * kCount);
  ASSERT_EQ(delivered.size(), 2u);
  for (const Delivery& d : delivered) {
    if (d.desc.no == light.no) {
      EXPECT_EQ(d.bytes, (std::vector<uint8_t>{0, kMote}));
    } else {
      EXPECT_EQ(d.bytes, record(kMote, 1, 0, 2));
    }
  }
  // Red for light, green for temperature: both on once, in the order read.
  ASSERT_EQ(led_events.size(), 2u);
  EXPECT_EQ(led_events.back(), LedsM::RED_BIT | LedsM::GREEN_BIT);
  run_for(100 * kCount);  // second samples: both toggled off again
  EXPECT_EQ(LedsM::vars_of(kMote).ledsOn, 0);
  EXPECT_EQ(led_events.size(), 4u);
}

TEST_F(SensorStream, OnDemandReadsSampleOnceEachAndDeliverWholeRecords) {
  set_adc_value(kMote, MagM::PORT_MAGX, 2000);  // 500
  stream_type s = SSToAppM::SSToApp_open_s(MAGNETISMX, 0, 9, ON_DEMAND);
  ASSERT_EQ(s.no, 0);
  EXPECT_EQ(entry(0).buffer_size, 0);
  EXPECT_TRUE(entry(0).buffer.empty());
  EXPECT_EQ(SSToAppM::SSToApp_read(s, 2), SUCCESS);
  EXPECT_EQ(SSToAppM::SSToApp_read(s, 8), SUCCESS);  // before the first completes
  EXPECT_TRUE(delivered.empty());
  VEXH_run_all_tasks();
  ASSERT_EQ(delivered.size(), 2u);
  for (const Delivery& d : delivered) EXPECT_EQ(d.bytes, record(kMote, 1, 0, 500));
  EXPECT_EQ(entry(0).num_reads, 0);  // nothing is queued for on-demand reads
}

TEST_F(SensorStream, OnDemandReadOfABusyConverterPortGivesOneRecord) {
  stream_type s = SSToAppM::SSToApp_open_s(ACCELERATIONX, 0, 0, ON_DEMAND);
  EXPECT_EQ(SSToAppM::SSToApp_read(s, 8), SUCCESS);
  EXPECT_EQ(SSToAppM::SSToApp_read(s, 8), SUCCESS);  // the converter refuses this one
  run_for(10 * kCount);
  EXPECT_EQ(delivered.size(), 1u);
}

TEST_F(SensorStream, ClosingWhileAReadingIsInFlightDropsTheReading) {
  stream_type s = SSToAppM::SSToApp_open_s(LIGHT, 0, 0, ON_DEMAND);
  EXPECT_EQ(SSToAppM::SSToApp_read(s, 8), SUCCESS);
  run_for(2 * kCount);  // the light sensor is still warming up
  vex_state.current_node = kMote;
  EXPECT_EQ(SSToAppM::SSToApp_close(s), SUCCESS);
  run_for(50 * kCount);
  EXPECT_TRUE(delivered.empty());
  EXPECT_EQ(led_events, std::vector<uint8_t>{LedsM::RED_BIT});  // the reading did arrive
  EXPECT_EQ(SSToAppM::SSToApp_read(s, 8), FAIL);
  EXPECT_EQ(SSToAppM::SSToApp_close(s), FAIL);
}

TEST_F(SensorStream, ClosingAPeriodicStreamStopsItsSampling) {
  stream_type s = SSToAppM::SSToApp_open_s(ACCELERATIONX, 50, 4, PERIODIC);
  run_for(120 * kCount);
  vex_state.current_node = kMote;
  EXPECT_EQ(SSToAppM::SSToApp_close(s), SUCCESS);
  EXPECT_TRUE(entry(s.no).buffer.empty());
  std::string out = output_of(DBG_AM, [] { run_for(300 * kCount); });
  EXPECT_EQ(out.find("Chiedo"), std::string::npos);
  EXPECT_EQ(out.find("rilevata"), std::string::npos);
  vex_state.current_node = kMote;
  EXPECT_EQ(SSToAppM::SSToApp_open_s(ACCELERATIONX, 50, 4, PERIODIC).no, s.no);
}

TEST_F(SensorStream, OpenRefusesFreeIdsDuplicatesAFifthStreamAndUnknownSamplingTypes) {
  const stream_type refused{SSDT_ID, INVALID_DESCRIPTOR};
  auto open = [](uint8_t tid, uint8_t type) { return SSToAppM::SSToApp_open_s(tid, 100, 2, type); };
  auto same = [](stream_type a, stream_type b) { return a.table_id == b.table_id && a.no == b.no; };
  EXPECT_TRUE(same(open(0, PERIODIC), refused));
  // Sampling types other than these two would sample with nowhere to store.
  EXPECT_TRUE(same(open(LIGHT, 0), refused));
  EXPECT_TRUE(same(open(LIGHT, 3), refused));
  EXPECT_EQ(open(LIGHT, PERIODIC).no, 0);
  EXPECT_TRUE(same(open(LIGHT, ON_DEMAND), refused));  // one stream per sensor
  EXPECT_EQ(open(9, PERIODIC).no, 1);                  // no such sensor: accepted
  EXPECT_EQ(open(TEMPERATURE, ON_DEMAND).no, 2);
  EXPECT_EQ(open(MAGNETISMX, PERIODIC).no, 3);
  EXPECT_TRUE(same(open(ACCELERATIONX, PERIODIC), refused));  // all four taken
  EXPECT_EQ(SSToAppM::SSToApp_close({SSDT_ID, 0}), SUCCESS);
  EXPECT_EQ(open(LIGHT, ON_DEMAND).no, 0);

  // The stream of the missing sensor never gets a sample, on a timer or on demand.
  vex_state.current_node = kMote;
  EXPECT_EQ(SSToAppM::SSToApp_read({SSDT_ID, 1}, 8), SUCCESS);  // waits
  run_for(500 * kCount);
  EXPECT_EQ(entry(1).data_counter, 0);
  EXPECT_TRUE(delivered.empty());
  EXPECT_EQ(SSToAppM::SSToApp_write({SSDT_ID, 0}, nullptr, 0), ILLEGAL_OPERATION);
}

TEST_F(SensorStream, TraceLines) {
  set_adc_value(kMote, VEX_ADC_ACCEL_X_PORT, 402);
  stream_type s = SSToAppM::SSToApp_open_s(ACCELERATIONX, 50, 3, PERIODIC);
  std::string out = output_of(DBG_AM, [&] {
    SSToAppM::SSToApp_read(s, 8);
    run_for(60 * kCount);  // one sample
  });
  std::string expected =
      "1: stream di sensore --- richiesta di READ\n"
      "1: stream di sensore --- buffer vuoto o nessun nuovo dato, READ memorizzata\n"
      "1: Chiedo l'accelerazione lungo X\n"
      "1: rilevata l'accelerazione lungo X = 100\n"
      "1: sensor stream --- richieste di READ pendenti -> segnalo readDone\n"
      "1: nodo 1\n"
      "1: entry = 0 \n";
  const std::vector<uint8_t> bytes = record(kMote, 1, 0, 100);
  for (int i = 0; i < 8; ++i) {
    expected += "1: buffer[0][" + std::to_string(i) + "] = " + std::to_string(bytes[i]) + " \n";
  }
  EXPECT_EQ(out, expected);

  run_for(50 * kCount);  // a second sample, then a read finds it waiting
  vex_state.current_node = kMote;
  out = output_of(DBG_AM, [&] { SSToAppM::SSToApp_read(s, 1); });
  EXPECT_EQ(out,
            "1: stream di sensore --- richiesta di READ\n"
            "1: stream di sensore --- dato disponibile -> segnalo readDone\n"
            "1: nodo 1\n1: entry = 0 \n"
            "1: buffer[1][0] = 0 \n1: buffer[1][1] = 1 \n1: buffer[1][2] = 0 \n"
            "1: buffer[1][3] = 1 \n1: buffer[1][4] = 0 \n1: buffer[1][5] = 0 \n"
            "1: buffer[1][6] = 0 \n1: buffer[1][7] = 100 \n");
  out = output_of(DBG_AM, [&] {
    for (int i = 0; i < 5; ++i) SSToAppM::SSToApp_read(s, 8);
  });
  EXPECT_EQ(out.find("impossibile memorizzare la READ\n"), out.rfind("impossibile memorizzare"));
  EXPECT_NE(out.find("1: stream di sensore --- buffer vuoto o nessun nuovo dato, impossibile "
                     "memorizzare la READ\n"),
            std::string::npos);

  stream_type light = SSToAppM::SSToApp_open_s(LIGHT, 0, 0, ON_DEMAND);
  out = output_of(DBG_AM, [&] { SSToAppM::SSToApp_read(light, 8); });
  EXPECT_EQ(out,
            "1: stream di sensore --- richiesta di READ\n"
            "1: Chiedo la luminosita' on demand\n");
}

// The ADC models, the emulated converter and the ADCM driver.

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <tuple>
#include <vector>

#include "devices/adc_event.hpp"
#include "devices/adc_m.hpp"
#include "devices/adc_model.hpp"
#include "devices/power_state_m.hpp"
#include "kernel/per_mote.hpp"
#include "kernel/scheduler.hpp"
#include "support/output.hpp"
#include "support/run.hpp"
#include "support/world_test.hpp"

namespace {
using support::output_of;

constexpr int kMote = 3;

std::vector<uint16_t> random_readings(unsigned seed, int n) {
  std::srand(seed);
  std::vector<uint16_t> values;
  for (int i = 0; i < n; ++i) values.push_back(static_cast<uint16_t>(std::rand() & 0x3FF));
  return values;
}

class AdcModel : public WorldTest {
 protected:
  void SetUp() override {
    WorldTest::SetUp();
    vex_state.current_node = kMote;
  }
};

// (port, reading, time) of every reading a consumer of ADCM got.
std::vector<std::tuple<int, uint16_t, vex_time_t>> readings;
result_t refuse_next = SUCCESS;

template <int Port>
result_t consume(uint16_t data) {
  readings.emplace_back(Port, data, vex_state.vex_time.load());
  return refuse_next;
}

struct ClientEvent {
  uint16_t mote, type;
  vex_time_t time;
  std::vector<uint8_t> payload;
};
std::vector<ClientEvent> client_events;
void record_event(uint16_t mote, uint16_t type, vex_time_t time, const void* payload,
                  std::size_t length) {
  if (type != AM_ADCDATAREADYEVENT) return;
  auto bytes = static_cast<const uint8_t*>(payload);
  client_events.push_back({mote, type, time, {bytes, bytes + length}});
}

class Converter : public WorldTest {
 protected:
  void SetUp() override {
    WorldTest::SetUp();
    readings.clear();
    client_events.clear();
    refuse_next = SUCCESS;
    create_adc_model(false);
    adc_model_init();
    vex_state.num_nodes = 4;
    vex_state.moteOn[kMote] = true;
    vex_state.current_node = kMote;
    VEX_LOCAL_ADDRESS = kMote;
    vex_state.vex_time = 5000;
    for (uint8_t port = 0; port < ADCM::REQUEST_PORTS; ++port) {
      ADCM::set_data_ready_handler(port, nullptr);
    }
    ADCM::set_data_ready_handler(3, consume<3>);
    ADCM::set_data_ready_handler(4, consume<4>);
    ADCM::set_data_ready_handler(5, consume<5>);
    ADCM::ADCControl_init();
    set_client_event_sink(record_event);
  }
  void TearDown() override {
    for (uint8_t port = 0; port < ADCM::REQUEST_PORTS; ++port) {
      ADCM::set_data_ready_handler(port, nullptr);
    }
    PowerStateM::reset_for_tests();
    WorldTest::TearDown();
  }
  static void run_events() { support::run_all(); }
  static std::vector<int> ports_read() {
    std::vector<int> ports;
    for (auto& r : readings) ports.push_back(std::get<0>(r));
    return ports;
  }
};
}  // namespace

TEST_F(AdcModel, GenericTableGivesSetValuesAndRandomOnesWhileUnset) {
  create_adc_model(false);
  adc_model_init();
  std::vector<uint16_t> expected = random_readings(11, 2);
  std::srand(11);
  EXPECT_EQ(adc_model_read(7, 1, 0), expected[0]);  // nothing set yet

  set_adc_value(7, 1, 500);
  for (int i = 0; i < 3; ++i) EXPECT_EQ(adc_model_read(7, 1, i * 1000), 500);
  EXPECT_EQ(adc_model_read(7, 255, 0), expected[1]);  // other ports stay unset
  set_adc_value(7, 255, 0);
  EXPECT_EQ(adc_model_read(7, 255, 0), 0);  // 0 is a value like any other

  set_adc_value(7, 1, ADC_VALUE_UNSET);
  std::vector<uint16_t> after = random_readings(12, 1);
  std::srand(12);
  EXPECT_EQ(adc_model_read(7, 1, 0), after[0]);
}

TEST_F(AdcModel, GenericRejectsMoteIdsOutsideTheTable) {
  create_adc_model(false);
  adc_model_init();
  set_adc_value(999, 4, 77);
  std::string out = output_of(DBG_ERROR, [] {
    EXPECT_EQ(generic_adc_read(1000, 4, 0), ADC_VALUE_UNSET);
    EXPECT_EQ(generic_adc_read(-1, 4, 0), ADC_VALUE_UNSET);
    set_adc_value(1000, 4, 12);
  });
  EXPECT_EQ(out,
            "3: GENERIC_ADC_MODEL: trying to read value with invalid parameters: [moteID = 1000] "
            "[port = 4]"
            "3: GENERIC_ADC_MODEL: trying to read value with invalid parameters: [moteID = -1] "
            "[port = 4]"
            "3: GENERIC_ADC_MODEL: trying to set value with invalid parameters: [moteID = 1000] "
            "[port = 4]");
  EXPECT_EQ(generic_adc_read(999, 4, 0), 77);
}

TEST_F(AdcModel, RandomModelIgnoresTheTableWhichStillServesDirectReads) {
  create_adc_model(true);
  adc_model_init();
  set_adc_value(2, 1, 500);
  std::vector<uint16_t> expected = random_readings(5, 3);
  std::srand(5);
  for (uint16_t value : expected) EXPECT_EQ(adc_model_read(2, 1, 0), value);
  // Entries are never marked unset under this model: unset ones read 0.
  EXPECT_EQ(generic_adc_read(2, 120, 0), 0);
  EXPECT_EQ(generic_adc_read(2, 1, 0), 500);
}

TEST_F(Converter, ReadingArrivesAtTheRequestTimeAsASeparateEvent) {
  set_adc_value(kMote, 4, 321);
  EXPECT_EQ(ADCM::ADC_getData(4), SUCCESS);
  EXPECT_TRUE(readings.empty());
  EXPECT_EQ(vex_state.queue.size(), 1u);
  run_events();
  ASSERT_EQ(readings.size(), 1u);
  EXPECT_EQ(readings[0], std::make_tuple(4, uint16_t{321}, vex_time_t{5000}));
  EXPECT_EQ(ADCM::vars_of(kMote).ReqVector, 0);
  ASSERT_EQ(client_events.size(), 1u);
  EXPECT_EQ(client_events[0].mote, kMote);
  EXPECT_EQ(client_events[0].time, 5000);
  EXPECT_EQ(client_events[0].payload, (std::vector<uint8_t>{4, 0, 0x41, 0x01}));
}

TEST_F(Converter, PendingPortsAreServedRoundRobinFromThePortJustConverted) {
  set_adc_value(kMote, 3, 30);
  set_adc_value(kMote, 4, 40);
  set_adc_value(kMote, 5, 50);
  EXPECT_EQ(ADCM::ADC_getData(4), SUCCESS);  // converter starts on 4
  EXPECT_EQ(ADCM::ADC_getData(3), SUCCESS);  // waits
  EXPECT_EQ(ADCM::ADC_getData(5), SUCCESS);  // waits
  EXPECT_EQ(ADCM::ADC_getData(3), FAIL);     // already pending
  EXPECT_EQ(ADCM::vars_of(kMote).ReqVector, 0b111000);
  run_events();
  // After 4 the search goes on to 5, then up to 254, wraps to 0 and finds 3.
  EXPECT_EQ(ports_read(), (std::vector<int>{4, 5, 3}));
  EXPECT_EQ(std::get<1>(readings[2]), 30);
  for (auto& r : readings) EXPECT_EQ(std::get<2>(r), 5000);
  ASSERT_EQ(client_events.size(), 3u);
  // Each event names the port it converted, not the one armed next.
  EXPECT_EQ(client_events[0].payload, (std::vector<uint8_t>{4, 0, 40, 0}));
  EXPECT_EQ(client_events[1].payload, (std::vector<uint8_t>{5, 0, 50, 0}));
  EXPECT_EQ(client_events[2].payload, (std::vector<uint8_t>{3, 0, 30, 0}));
  EXPECT_EQ(ADCM::vars_of(kMote).ReqVector, 0);
}

TEST_F(Converter, AccelerationXAndYRequestedTogetherEachGetOneReading) {
  EXPECT_EQ(ADCM::ADC_getData(4), SUCCESS);
  EXPECT_EQ(ADCM::ADC_getData(5), SUCCESS);
  run_events();
  EXPECT_EQ(ports_read(), (std::vector<int>{4, 5}));
}

TEST_F(Converter, PortsTheRequestVectorCannotHoldAreRefused) {
  EXPECT_EQ(ADCM::ADC_getData(4), SUCCESS);
  for (uint8_t port : {16, 31, 32, 200, 255}) EXPECT_EQ(ADCM::ADC_getData(port), FAIL);
  EXPECT_EQ(ADCM::vars_of(kMote).ReqVector, 1 << 4);
  run_events();
  // The conversion in progress was not taken over by the refused requests.
  EXPECT_EQ(ports_read(), std::vector<int>{4});
  EXPECT_EQ(ADCM::ADC_getData(15), SUCCESS);  // the highest port it can hold
  run_events();
  ASSERT_EQ(client_events.size(), 2u);
  EXPECT_EQ(client_events[1].payload[0], 15);
  EXPECT_EQ(ADCM::vars_of(kMote).ReqVector, 0);
}

TEST_F(Converter, ContinuousSamplingRunsUntilTheConsumerRefuses) {
  EXPECT_EQ(ADCM::ADC_getContinuousData(3), SUCCESS);
  // Let three readings through; the third is refused.
  for (int i = 0; i < 2; ++i) {
    ASSERT_TRUE(vex_state.queue.handle_next_event(vex_state));
  }
  refuse_next = FAIL;
  ASSERT_TRUE(vex_state.queue.handle_next_event(vex_state));
  refuse_next = SUCCESS;
  run_events();
  // The re-armed conversion still completes, as a single one.
  EXPECT_EQ(ports_read(), (std::vector<int>{3, 3, 3, 3}));
  EXPECT_EQ(ADCM::vars_of(kMote).ReqVector, 0);
  EXPECT_EQ(ADCM::vars_of(kMote).ContReqMask, 0);
}

TEST_F(Converter, TheEventIsCreatedOnceAndReused) {
  adcEvents[kMote] = AdcEmulation{};
  std::string out = output_of(DBG_MEM, [] {
    for (int i = 0; i < 4; ++i) {
      ADCM::ADC_getData(4);
      ADCM::ADC_getData(5);
      run_events();
    }
  });
  EXPECT_EQ(readings.size(), 8u);
  size_t mallocs = 0;
  for (size_t at = out.find("malloc adc tick event"); at != std::string::npos;
       at = out.find("malloc adc tick event", at + 1)) {
    ++mallocs;
  }
  EXPECT_EQ(mallocs, 1u);
  EXPECT_NE(out.find("malloc data entry for adc event: 0x"), std::string::npos);
}

TEST_F(Converter, AConversionDroppedWithItsSwitchedOffMoteDoesNotStallTheConverter) {
  EXPECT_EQ(ADCM::ADC_getData(4), SUCCESS);
  vex_state.moteOn[kMote] = false;  // the queue now drops the event
  run_events();
  EXPECT_TRUE(readings.empty());
  // Switched on again, the mote's init clears the request vector.
  vex_state.moteOn[kMote] = true;
  vex_state.current_node = kMote;
  ADCM::ADCControl_init();
  EXPECT_EQ(ADCM::ADC_getData(4), SUCCESS);
  run_events();
  EXPECT_EQ(ports_read(), std::vector<int>{4});
}

TEST_F(Converter, ARequestWhileTheEventIsQueuedSupersedesTheQueuedConversion) {
  EXPECT_EQ(ADCM::ADC_getData(4), SUCCESS);
  ADCM::ADCControl_init();  // a reboot in the same tick forgets the request
  EXPECT_EQ(ADCM::ADC_getData(5), SUCCESS);
  EXPECT_EQ(vex_state.queue.size(), 2u);
  run_events();
  // The stale event is discarded: one conversion, of the new port.
  EXPECT_EQ(ports_read(), std::vector<int>{5});
  EXPECT_EQ(client_events.size(), 1u);
  EXPECT_EQ(ADCM::ADC_getData(4), SUCCESS);  // and the converter goes on as usual
  run_events();
  EXPECT_EQ(ports_read(), (std::vector<int>{5, 4}));
}

TEST_F(Converter, TraceAndPowerLines) {
  PowerStateM::PowerState_init(true, false);
  set_adc_value(kMote, 5, 17);
  std::string out = output_of(DBG_ADC | DBG_POWER | DBG_BOOT, [] {
    ADCM::ADCControl_init();
    ADCM::ADC_getData(5);
    run_events();
  });
  EXPECT_EQ(out,
            "3: ADC initialized.\n"
            "3: POWER: Mote 3 ADC ON at 5000 \n"
            "3: POWER: Mote 3 ADC SAMPLE PORT 5 at 5000 \n"
            "3: ADC: request for port 5\n"
            "3: POWER: Mote 3 ADC DATA_READY at 5000 \n"
            "3: adc_tick: port 5 with value 17 \n");
}

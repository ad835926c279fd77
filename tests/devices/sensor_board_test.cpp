// The sensor board: light and temperature sequencing, the magnetometer, and
// the microphone's gain pot over the bit-banged I2C bus.

#include <gtest/gtest.h>

#include <cstdlib>
#include <sstream>
#include <string>
#include <vector>

#include "devices/adc_m.hpp"
#include "devices/adc_model.hpp"
#include "devices/i2c_m.hpp"
#include "devices/i2c_pot_m.hpp"
#include "devices/sensor_board.hpp"
#include "kernel/clock.hpp"
#include "kernel/driver.hpp"
#include "kernel/io_pins.hpp"
#include "kernel/pacing.hpp"
#include "kernel/per_mote.hpp"
#include "kernel/scheduler.hpp"
#include "kernel/timer_m.hpp"
#include "support/output.hpp"
#include "support/run.hpp"
#include "support/world_test.hpp"

namespace {
using support::output_of;

constexpr uint16_t kMote = 1;
constexpr vex_time_t kCount = 3906;  // ticks per timer count

struct Reading {
  char sensor;
  uint16_t value;
  vex_time_t time;
};
std::vector<Reading> got;

template <char Sensor>
result_t take(uint16_t value) {
  got.push_back({Sensor, value, vex_state.vex_time.load()});
  return SUCCESS;
}

// What the stream system does with the board at boot.
result_t board_init() {
  result_t r = AccelM::StdControl_init();
  r = rcombine(r, PhotoTempM::PhotoStdControl_init());
  r = rcombine(r, MagM::StdControl_init());
  r = rcombine(r, PhotoTempM::TempStdControl_init());
  r = rcombine(r, MicM::StdControl_init());
  MicM::Mic_muxSel(1);
  MicM::Mic_gainAdjust(123);
  return r;
}
result_t board_start() {
  TimerM::StdControl_start();
  result_t r = AccelM::StdControl_start();
  r = rcombine(r, PhotoTempM::PhotoStdControl_start());
  r = rcombine(r, MagM::StdControl_start());
  r = rcombine(r, PhotoTempM::TempStdControl_start());
  return rcombine(r, MicM::StdControl_start());
}

class SensorBoard : public WorldTest {
 protected:
  void SetUp() override {
    WorldTest::SetUp();
    got.clear();
    create_adc_model(false);
    adc_model_init();
    PhotoTempM::set_external_handlers(take<'L'>, take<'T'>);
    MagM::set_data_ready_handlers(take<'X'>, take<'Y'>);
    TimerM::set_fired_handler(TIMER_PHOTO_TEMP, PhotoTempM::Timer_fired);
    support::unpaced();
    vex_state.num_nodes = 2;
    set_app_entry_points({board_init, board_start, nullptr});
    brelo_start_mote(kMote);
  }
  void TearDown() override {
    PhotoTempM::set_external_handlers(nullptr, nullptr);
    MagM::set_data_ready_handlers(nullptr, nullptr);
    TimerM::set_fired_handler(TIMER_PHOTO_TEMP, nullptr);
    WorldTest::TearDown();
  }
  static void run_for(vex_time_t ticks) { support::run_loop_until(vex_state.vex_time + ticks); }
};
}  // namespace

TEST_F(SensorBoard, LightAndTemperatureTogetherAreServedOneAfterTheOtherEachWarmedUp) {
  set_adc_value(kMote, VEX_ADC_PHOTO_PORT, 800);
  set_adc_value(kMote, VEX_ADC_TEMP_PORT, 300);
  const vex_time_t asked = vex_state.vex_time;
  EXPECT_EQ(PhotoTempM::ExternalPhotoADC_getData(), SUCCESS);
  EXPECT_EQ(PhotoTempM::ExternalTempADC_getData(), SUCCESS);
  run_for(200 * kCount);
  ASSERT_EQ(got.size(), 2u);
  // The sampling task starts with temperature, then turns to light.
  EXPECT_EQ(got[0].sensor, 'T');
  EXPECT_EQ(got[0].value, 300);
  EXPECT_EQ(got[1].sensor, 'L');
  EXPECT_EQ(got[1].value, 800);
  // Each reading waited for its own warm-up of about 10 counts.
  EXPECT_GE(got[0].time - asked, 9 * kCount);
  EXPECT_GE(got[1].time - got[0].time, 9 * kCount);
  EXPECT_LE(got[1].time - asked, 25 * kCount);
  const PhotoTempM::Vars& v = PhotoTempM::vars_of(kMote);
  EXPECT_EQ(v.photoSensor, PhotoTempM::stateIdle);
  EXPECT_EQ(v.tempSensor, PhotoTempM::stateIdle);
  EXPECT_EQ(v.hardwareStatus, PhotoTempM::sensorPhotoReady);
  EXPECT_FALSE(v.waitingForSample);
}

TEST_F(SensorBoard, ARepeatedReadingOfAWarmSensorStillWarmsItUpAgainAfterTheOther) {
  PhotoTempM::ExternalPhotoADC_getData();
  run_for(100 * kCount);
  PhotoTempM::ExternalPhotoADC_getData();  // same sensor, already powered: no warm-up
  const vex_time_t asked = vex_state.vex_time;
  run_for(100 * kCount);
  ASSERT_EQ(got.size(), 2u);
  EXPECT_LT(got[1].time - asked, kCount);
  PhotoTempM::ExternalTempADC_getData();  // the other sensor: warm-up again
  const vex_time_t asked_temp = vex_state.vex_time;
  run_for(100 * kCount);
  ASSERT_EQ(got.size(), 3u);
  EXPECT_GE(got[2].time - asked_temp, 9 * kCount);
}

TEST_F(SensorBoard, PhotoAndTemperaturePinsFollowTheSensorBeingRead) {
  PhotoTempM::ExternalPhotoADC_getData();
  VEXH_pc_hardware[kMote].register_D = 0;
  run_for(100 * kCount);
  // The photo control pin (INT1, port 0x43 bit 1) was set for the light reading.
  EXPECT_EQ(VEXH_pc_hardware[kMote].register_D & 0b110, 0b010);
  VEXH_pc_hardware[kMote].register_D = 0;
  PhotoTempM::ExternalTempADC_getData();
  run_for(100 * kCount);
  EXPECT_EQ(VEXH_pc_hardware[kMote].register_D & 0b110, 0b100);
}

TEST_F(SensorBoard, MagnetometerReadsTableEntries120And121WhateverTheModel) {
  set_adc_value(kMote, MagM::PORT_MAGX, 612);
  std::vector<uint16_t> expected;
  std::srand(21);
  expected.push_back(static_cast<uint16_t>(std::rand() & 0x3FF));
  std::srand(21);
  std::string out = output_of(DBG_USR1, [] {
    EXPECT_EQ(MagM::MagX_getData(), SUCCESS);
    EXPECT_EQ(MagM::MagY_getData(), SUCCESS);
    EXPECT_TRUE(got.empty());  // delivered from a task
    VEXH_run_all_tasks();
  });
  EXPECT_EQ(out, "1: (MAG READ ADC) [orlasb] [x]\n1: (MAG READ ADC) [orlasb] [y]\n");
  ASSERT_EQ(got.size(), 2u);
  EXPECT_EQ(got[0].sensor, 'X');
  EXPECT_EQ(got[0].value, 612);
  EXPECT_EQ(got[1].value, expected[0]);  // unset under the generic model: random

  create_adc_model(true);
  adc_model_init();
  set_adc_value(kMote, MagM::PORT_MAGX, 99);
  MagM::MagX_getData();
  MagM::MagY_getData();
  VEXH_run_all_tasks();
  EXPECT_EQ(got[2].value, 99);
  EXPECT_EQ(got[3].value, 0);  // the random model never marks entries unset
}

TEST_F(SensorBoard, MicGainWriteAtBootFailsAndLeavesThePotIdle) {
  // The boot's gain write has run to its end.
  EXPECT_EQ(I2CPotM::vars_of(kMote).state, I2CPotM::IDLE);
  EXPECT_EQ(I2CPotM::vars_of(kMote).data, 123);
  EXPECT_EQ(I2CM::vars_of(kMote).state, 0);
  EXPECT_EQ(MicM::Mic_muxSel(2), FAIL);

  // Step a second write task by task: the command byte is not acknowledged.
  EXPECT_EQ(MicM::Mic_gainAdjust(40), SUCCESS);
  EXPECT_EQ(I2CPotM::vars_of(kMote).state, I2CPotM::WRITE_POT_START);
  EXPECT_EQ(MicM::Mic_gainAdjust(41), FAIL);  // busy
  std::vector<uint8_t> states;
  while (VEXH_run_next_task()) states.push_back(I2CPotM::vars_of(kMote).state);
  EXPECT_EQ(states, (std::vector<uint8_t>{I2CPotM::WRITE_COMMAND, I2CPotM::WRITE_FAIL,
                                          I2CPotM::IDLE}));
  EXPECT_EQ(MicM::Mic_gainAdjust(42), SUCCESS);  // idle again
  VEXH_run_all_tasks();
}

TEST_F(SensorBoard, I2CWriteClocksTheByteOutMostSignificantBitFirst) {
  ASSERT_EQ(I2CM::I2C_write(0x5A), SUCCESS);
  EXPECT_EQ(I2CM::I2C_write(0x01), FAIL);  // one request at a time
  std::string out = output_of(DBG_HARD, [] { VEXH_run_next_task(); });
  // Each rising clock edge (set bit 4 of port 52) samples the data bit last
  // driven (bit 5 of port 52); the ninth is the acknowledge read back.
  std::istringstream lines(out);
  std::string line;
  int data_bit = -1;
  std::string bits;
  bool reading_ack = false;
  while (std::getline(lines, line)) {
    if (line == "1: Set bit 5 of port 52") data_bit = 1;
    if (line == "1: Clear bit 5 of port 52") data_bit = 0;
    if (line == "1: Clear bit 5 of port 54") reading_ack = true;
    if (line == "1: Set bit 4 of port 52" && !reading_ack) bits += static_cast<char>('0' + data_bit);
  }
  EXPECT_EQ(bits, "01011010");
  EXPECT_TRUE(reading_ack);
  EXPECT_NE(out.find("1: inp(53)\n"), std::string::npos);  // the acknowledge bit reads 1
}

static void idle_task() {}

TEST_F(SensorBoard, ABusRequestTheTaskRingCannotTakeLeavesTheBusFree) {
  for (int i = 0; i < VEXH_MAX_TASKS; ++i) ASSERT_EQ(VEX_post(idle_task), SUCCESS);
  EXPECT_EQ(I2CM::I2C_sendStart(), FAIL);
  EXPECT_EQ(I2CM::vars_of(kMote).state, 0);
  EXPECT_EQ(MicM::Mic_gainAdjust(10), FAIL);  // the pot gives up too, and stays idle
  EXPECT_EQ(I2CPotM::vars_of(kMote).state, I2CPotM::IDLE);
  VEXH_run_all_tasks();
  EXPECT_EQ(MicM::Mic_gainAdjust(10), SUCCESS);
  VEXH_run_all_tasks();
  EXPECT_EQ(I2CPotM::vars_of(kMote).state, I2CPotM::IDLE);
}

TEST_F(SensorBoard, BootInitialisesTheSensorsInOrder) {
  brelo_stop_mote(kMote);
  vex_state.cancelBoot[kMote] = false;
  std::string out = output_of(DBG_BOOT, [] { brelo_start_mote(kMote); });
  EXPECT_EQ(out,
            "1: ACCEL initialized.\n1: ADC initialized.\n"
            "1: PHOTO initialized.\n1: ADC initialized.\n"
            "1: MAG initialized.\n"
            "1: TEMP initialized.\n1: ADC initialized.\n"
            "1: ADC initialized.\n");
}

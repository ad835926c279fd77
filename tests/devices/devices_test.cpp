#include <gtest/gtest.h>
#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <string>
#include <vector>

#include "devices/eeprom.hpp"
#include "devices/leds_m.hpp"
#include "devices/power_state_m.hpp"
#include "devices/random_lfsr.hpp"
#include "kernel/per_mote.hpp"
#include "support/world_test.hpp"

namespace {
std::vector<uint8_t> led_events;
void record_led(uint16_t, uint16_t type, vex_time_t, const void* payload, std::size_t length) {
  if (type != AM_LEDEVENT) return;
  ASSERT_EQ(length, 1u);
  led_events.push_back(*static_cast<const uint8_t*>(payload));
}

class Leds : public WorldTest {
 protected:
  void SetUp() override {
    WorldTest::SetUp();
    led_events.clear();
    vex_state.current_node = 2;
    __quil_brelo_initialise(2);
    set_client_event_sink(record_led);
    PowerStateM::reset_for_tests();
  }
  void TearDown() override {
    PowerStateM::reset_for_tests();
    WorldTest::TearDown();
  }
};
}  // namespace

TEST_F(Leds, InitReportsAllOff) {
  dbg_set(DBG_BOOT);
  testing::internal::CaptureStdout();
  LedsM::init();
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "2: LEDS: initialized.\n");
  EXPECT_EQ(led_events, std::vector<uint8_t>{0});
}

TEST_F(Leds, OnlyRealChangesAreReportedButEveryCallIsLogged) {
  dbg_set(DBG_LED);
  testing::internal::CaptureStdout();
  LedsM::redOn();
  LedsM::redOn();
  LedsM::yellowOn();
  LedsM::redOff();
  EXPECT_EQ(testing::internal::GetCapturedStdout(),
            "2: LEDS: Red on.\n2: LEDS: Red on.\n2: LEDS: Yellow on.\n2: LEDS: Red off.\n");
  EXPECT_EQ(led_events, (std::vector<uint8_t>{1, 5, 4}));
}

TEST_F(Leds, TogglesFlipOneLed) {
  LedsM::redToggle();
  LedsM::greenToggle();
  LedsM::redToggle();
  EXPECT_EQ(led_events, (std::vector<uint8_t>{1, 3, 2}));
  EXPECT_EQ(LedsM::vars_of(2).ledsOn, LedsM::GREEN_BIT);
}

TEST_F(Leds, PowerNotesOnlyWhilePowerProfiling) {
  dbg_set(DBG_POWER);
  vex_state.vex_time = 1234;
  testing::internal::CaptureStdout();
  LedsM::greenOn();
  PowerStateM::PowerState_init(true, false);
  LedsM::greenOff();
  PowerStateM::ADCsample(3);
  EXPECT_EQ(testing::internal::GetCapturedStdout(),
            "2: POWER: Mote 2 LED_STATE GREEN_OFF at 1234\n"
            "2: POWER: Mote 2 ADC SAMPLE PORT 3 at 1234 \n");
}

TEST_F(Leds, ASecondProfilingInitIsRefused) {
  PowerStateM::PowerState_init(false, false);
  testing::internal::CaptureStderr();
  PowerStateM::PowerState_init(true, false);
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "PowerState.init() called twice...\n");
  EXPECT_FALSE(PowerStateM::power_on());
}

using Random = WorldTest;

TEST_F(Random, SeedAndSequenceFollowTheAddress) {
  vex_state.current_node = 0;
  VEX_LOCAL_ADDRESS = 0;
  RandomLFSR::Random_init();
  EXPECT_EQ(RandomLFSR::vars_of(0).shiftReg, 14161);
  EXPECT_EQ(RandomLFSR::vars_of(0).mask, 3973);
  // 14161 = 0x3751: shift gives 0x6EA2 (no carry), plus one 0x6EA3; XOR 3973 (0x0F85).
  EXPECT_EQ(RandomLFSR::Random_rand(), 0x6EA3 ^ 0x0F85);
  // 0x6EA3 << 1 = 0xDD46, no carry, + 1 = 0xDD47.
  EXPECT_EQ(RandomLFSR::Random_rand(), 0xDD47 ^ 0x0F85);
  // 0xDD47 has the carry: (0xBA8E ^ 0x100B) + 1 = 0xAA86.
  EXPECT_EQ(RandomLFSR::Random_rand(), 0xAA86 ^ 0x0F85);
  vex_state.current_node = 4;
  VEX_LOCAL_ADDRESS = 4;
  RandomLFSR::Random_init();
  EXPECT_EQ(RandomLFSR::vars_of(4).shiftReg, static_cast<uint16_t>(14161 * 5));
  EXPECT_EQ(RandomLFSR::vars_of(4).mask, static_cast<uint16_t>(3973 * 5));
}

class Eeprom : public ::testing::Test {
 protected:
  void SetUp() override {
    eeprom_close();
    path = testing::TempDir() + "eeprom_test_store";
    std::remove(path.c_str());
  }
  void TearDown() override {
    eeprom_close();
    std::remove(path.c_str());
  }
  std::string path;
};

TEST_F(Eeprom, ANewNamedStoreReadsErased) {
  ASSERT_EQ(namedEEPROM(path.c_str(), 2, 4096), 0);
  uint8_t bytes[16];
  ASSERT_TRUE(eeprom_read(1, 4080, bytes, sizeof bytes));
  for (uint8_t b : bytes) EXPECT_EQ(b, 0xFF);
  EXPECT_FALSE(eeprom_read(2, 0, bytes, 1));
  EXPECT_FALSE(eeprom_read(1, 4090, bytes, sizeof bytes));
  EXPECT_FALSE(eeprom_read(-1, 0, bytes, 1));
}

TEST_F(Eeprom, ANamedStoreOfTheRightSizeIsReusedAsItIs) {
  ASSERT_EQ(namedEEPROM(path.c_str(), 2, 4096), 0);
  eeprom_close();
  int fd = open(path.c_str(), O_RDWR);
  ASSERT_GE(fd, 0);
  uint8_t mark = 0x42;
  ASSERT_EQ(pwrite(fd, &mark, 1, 4096 + 7), 1);
  close(fd);
  ASSERT_EQ(namedEEPROM(path.c_str(), 2, 4096), 0);
  uint8_t read_back = 0;
  ASSERT_TRUE(eeprom_read(1, 7, &read_back, 1));
  EXPECT_EQ(read_back, 0x42);
}

TEST_F(Eeprom, WritesReadBackInBothKindsOfStore) {
  const uint8_t data[3] = {0x00, 0x5A, 0xFF};
  for (bool anonymous : {false, true}) {
    eeprom_close();
    ASSERT_EQ(anonymous ? anonymousEEPROM(3, 2048) : namedEEPROM(path.c_str(), 3, 2048), 0);
    uint8_t erased[4];
    ASSERT_TRUE(eeprom_read(2, 2044, erased, 4));
    for (uint8_t b : erased) EXPECT_EQ(b, 0xFF) << anonymous;
    ASSERT_TRUE(eeprom_write(1, 100, data, 3));
    uint8_t back[3];
    ASSERT_TRUE(eeprom_read(1, 100, back, 3));
    EXPECT_EQ(std::vector<uint8_t>(back, back + 3), std::vector<uint8_t>(data, data + 3));
    EXPECT_FALSE(eeprom_write(3, 0, data, 1));
    EXPECT_FALSE(eeprom_write(0, 2047, data, 2));
  }
}

TEST_F(Eeprom, CreatingTwiceIsRefused) {
  ASSERT_EQ(anonymousEEPROM(1, 1024), 0);
  dbg_set(DBG_ERROR);
  testing::internal::CaptureStdout();
  EXPECT_EQ(namedEEPROM(path.c_str(), 1, 1024), -1);
  std::string out = testing::internal::GetCapturedStdout();
  dbg_set(DBG_NONE);
  EXPECT_NE(out.find("ERROR: Trying to initialize EEPROM twice.\n"), std::string::npos);
  uint8_t b = 0;
  ASSERT_TRUE(eeprom_read(0, 1023, &b, 1));
  EXPECT_EQ(b, 0xFF);
}

#include "control/variable_access.hpp"

#include <gtest/gtest.h>

#include <cstring>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "support/world_test.hpp"
#include "app/wiring.hpp"
#include "control/variable_table.hpp"
#include "devices/leds_m.hpp"
#include "kernel/timer_m.hpp"
#include "query/pellund_m.hpp"
#include "streams/ss_to_app.hpp"

namespace {
class VariableAccessTest : public WorldTest {
 protected:
  void SetUp() override {
    WorldTest::SetUp();
    set_variable_read_wait(std::chrono::milliseconds(2000));
  }
  void TearDown() override {
    set_variable_read_wait(std::chrono::milliseconds(20));
    WorldTest::TearDown();
  }

  static uint32_t resolve(int mote, const char* name, uint32_t* length = nullptr) {
    uint32_t addr = 0, size = 0;
    EXPECT_EQ(__quil_brelo_resolve(static_cast<uint16_t>(mote), name, &addr, &size), 0) << name;
    if (length != nullptr) *length = size;
    return addr;
  }

  // Reads from another thread, the way the command thread does, while this
  // thread plays the simulation thread and serves the mailbox.
  static std::vector<uint8_t> read(uint32_t addr, uint32_t length, bool* ok = nullptr) {
    std::vector<uint8_t> out(length, 0xAA);
    VariableRead result = VariableRead::not_served;
    std::atomic<bool> finished{false};
    std::thread reader([&] {
      result = brelo_read_variable(addr, length, out.data());
      finished = true;
    });
    while (!finished) {
      variable_access_serve();
      std::this_thread::yield();
    }
    reader.join();
    if (ok != nullptr) *ok = result == VariableRead::read;
    return out;
  }
};

TEST_F(VariableAccessTest, EveryNameResolvesWithItsSizeAndMotesGetDistinctAddresses) {
  auto table = variable_table();
  ASSERT_EQ(table.size(), 108u);
  std::set<std::string> names;
  std::set<uint32_t> addresses;
  for (const VariableRow& row : table) {
    names.insert(row.name);
    uint32_t size = 0;
    uint32_t a2 = resolve(2, row.name, &size);
    EXPECT_EQ(size, row.size) << row.name;
    EXPECT_EQ(resolve(3, row.name), a2 + size) << row.name;
    addresses.insert(a2);
  }
  EXPECT_EQ(names.size(), 108u);
  EXPECT_EQ(addresses.size(), 108u);
  uint32_t size = 0;
  resolve(0, "PellundM$operator_table", &size);
  EXPECT_EQ(size, 528u);
  resolve(0, "TimerM$mTimerList", &size);
  EXPECT_EQ(size, 132u);
  resolve(0, "SSToAppM$local_table", &size);
  EXPECT_EQ(size, 96u);
  resolve(999, "TimerM$mState", &size);
  EXPECT_EQ(size, 4u);
}

TEST_F(VariableAccessTest, UnknownNamesAndMotesDoNotResolve) {
  uint32_t addr = 7, length = 7;
  EXPECT_EQ(__quil_brelo_resolve(0, "TimerM$nothing", &addr, &length), -1);
  EXPECT_EQ(__quil_brelo_resolve(0, "timerm$mState", &addr, &length), -1);  // case matters
  EXPECT_EQ(__quil_brelo_resolve(0, "PhotoTempM$getSample$photoIsNext", &addr, &length), -1);
  EXPECT_EQ(__quil_brelo_resolve(VEXNODES, "TimerM$mState", &addr, &length), -1);
}

TEST_F(VariableAccessTest, ForgedAddressesReadNothing) {
  uint8_t out[8] = {1, 2, 3, 4, 5, 6, 7, 8};
  EXPECT_EQ(brelo_read_variable(0, 8, out), VariableRead::no_such_address);
  EXPECT_EQ(brelo_read_variable(0x3FFFFFFF, 8, out), VariableRead::no_such_address);
  EXPECT_EQ(brelo_read_variable(0xFFFFFFFF, 8, out), VariableRead::no_such_address);
  EXPECT_EQ(out[0], 1);  // left alone
  // Just past the last mote's copy of the last variable.
  const VariableRow& last = variable_table().back();
  uint32_t end = resolve(VEXNODES - 1, last.name) + last.size;
  EXPECT_EQ(brelo_read_variable(end, 1, out), VariableRead::no_such_address);
}

TEST_F(VariableAccessTest, ValuesFollowTheMoteAndStopAtTheVariablesEnd) {
  LedsM::vars_of(4).ledsOn = 5;
  LedsM::vars_of(5).ledsOn = 6;
  TimerM::vars_of(4).mState = 0x01020304;
  EXPECT_EQ(read(resolve(4, "LedsM$ledsOn"), 1), std::vector<uint8_t>{5});
  EXPECT_EQ(read(resolve(5, "LedsM$ledsOn"), 1), std::vector<uint8_t>{6});
  // Little-endian, and nothing of the neighbouring copy past the end.
  bool ok = false;
  EXPECT_EQ(read(resolve(4, "TimerM$mState"), 6, &ok),
            (std::vector<uint8_t>{4, 3, 2, 1, 0, 0}));
  EXPECT_TRUE(ok);
  // An address inside the variable reads from there.
  EXPECT_EQ(read(resolve(4, "TimerM$mState") + 2, 2), (std::vector<uint8_t>{2, 1}));
}

TEST_F(VariableAccessTest, TimerListAndOperatorTableUseThe32BitLayout) {
  TimerM::vars_of(1).mTimerList[2] = {1, 0x11223344, -2};
  auto image = read(resolve(1, "TimerM$mTimerList"), 132);
  EXPECT_EQ(image[24], 1);
  EXPECT_EQ(image[25], 0);  // padding
  EXPECT_EQ(image[28], 0x44);
  EXPECT_EQ(image[31], 0x11);
  EXPECT_EQ(image[32], 0xFE);
  EXPECT_EQ(image[35], 0xFF);

  auto& entry = PellundM::vars_of(1).operator_table[3];
  std::memset(&entry, 0x5A, sizeof entry);
  auto table = read(resolve(1, "PellundM$operator_table"), 256);
  EXPECT_EQ(table[3 * 44], 0x5A);
  EXPECT_EQ(table[3 * 44 + 43], 0x5A);
  EXPECT_EQ(table[3 * 44 - 1], 0);
  std::memset(&entry, 0, sizeof entry);
}

TEST_F(VariableAccessTest, StreamTablesShowTheirEntriesPointersAndWaitingReads) {
  auto& local = SSToAppM::vars_of(2).local_table[1];
  local.validity = 1;
  local.open_ring(3);
  local.read_requested[1].nbytes = 20;
  local.tail = 2;
  local.num_reads = 1;
  auto image = read(resolve(2, "SSToAppM$local_table"), 96);
  EXPECT_EQ(std::vector<uint8_t>(image.begin(), image.begin() + 24), std::vector<uint8_t>(24, 0));
  const uint8_t* e = image.data() + 24;
  EXPECT_EQ(e[0], 1);                    // validity
  EXPECT_EQ(e[4], 3);                    // buffer_size
  EXPECT_EQ(e[8], 1);                    // buffer: set, never a host address
  EXPECT_EQ(e[12], 1);                   // buffer_elem_size
  EXPECT_EQ(e[17], 20);                  // read_requested[1]
  EXPECT_EQ(e[20], 2);                   // tail
  EXPECT_EQ(e[22], 1);                   // num_reads
  local.release();

  auto& dest = SSToAppM::vars_of(2).dest_remote_table[3];
  dest.symbolic_name = 9;
  dest.channel_id = {-1, 7, -1, -1};
  dest.stream_rate = {0, 0x01020304, 0, 0};
  dest.src_counter = 1;
  dest.buffer_size = 5;
  auto remote = read(resolve(2, "SSToAppM$dest_remote_table"), 240);
  const uint8_t* d = remote.data() + 3 * 60;
  EXPECT_EQ(d[0], 9);
  EXPECT_EQ(std::vector<uint8_t>(d + 4, d + 12), (std::vector<uint8_t>{0xFF, 0xFF, 0xFF, 0xFF, 7, 0, 0, 0}));
  EXPECT_EQ(d[24], 0x04);
  EXPECT_EQ(d[27], 0x01);
  EXPECT_EQ(d[38], 1);   // src_counter
  EXPECT_EQ(d[42], 5);   // buffer_size
  EXPECT_EQ(d[44], 0);   // no ring yet: null buffer

  auto& sensor = SSToAppM::vars_of(2).sensor_table[0];
  sensor.sensor_tid = 4;
  sensor.stream_rate = 1000;
  sensor.sampling_type = 2;
  auto sensors = read(resolve(2, "SSToAppM$sensor_table"), 128);
  EXPECT_EQ(sensors[0], 4);
  EXPECT_EQ(sensors[4] | sensors[5] << 8, 1000);
  EXPECT_EQ(sensors[8], 2);

  SSToAppM::vars_of(2).src_remote_table[0].channel_id = -1;
  SSToAppM::vars_of(2).src_remote_table[0].symbolic_name = 6;
  auto sources = read(resolve(2, "SSToAppM$src_remote_table"), 48);
  EXPECT_EQ(sources[0], 0xFF);
  EXPECT_EQ(sources[4], 6);
}

// A read nobody serves is reported as such, never answered with zeros or
// with what an earlier read saw; once the run ends, reads fail at once.
TEST_F(VariableAccessTest, UnservedReadIsReportedAndNeverAnswered) {
  LedsM::vars_of(7).ledsOn = 3;
  uint32_t addr = resolve(7, "LedsM$ledsOn");
  EXPECT_EQ(read(addr, 1), std::vector<uint8_t>{3});
  LedsM::vars_of(7).ledsOn = 4;
  set_variable_read_wait(std::chrono::milliseconds(1));
  uint8_t out = 9;
  EXPECT_EQ(brelo_read_variable(addr, 1, &out), VariableRead::not_served);
  EXPECT_EQ(out, 9);
  variable_access_serve();  // nothing left waiting for it to write into
  EXPECT_EQ(out, 9);

  set_variable_read_wait(std::chrono::milliseconds(2000));
  EXPECT_EQ(read(addr, 1), std::vector<uint8_t>{4});
  variable_access_close();
  auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(brelo_read_variable(addr, 1, &out), VariableRead::not_served);
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(1000));
  variable_access_open();
  EXPECT_EQ(read(addr, 1), std::vector<uint8_t>{4});
}
}  // namespace

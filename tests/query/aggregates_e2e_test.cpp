// Aggregates and joins run by a running brelo: queries handed to mote 0's
// serial port through the control port, on light and acceleration readings
// with ADC values set by the host, results back as serial messages of mote 0.

#include <gtest/gtest.h>

#include <cstdint>
#include <initializer_list>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "../control/brelo_process.hpp"
#include "control/client/control_client.hpp"
#include "operator_messages.hpp"

namespace query_test {
namespace {
using control_test::Brelo;
using control_test::ExitStatus;
using control_test::kWait;

constexpr uint8_t kLight = 1;          // sensor ids
constexpr uint8_t kAccelX = 6;
constexpr uint8_t kPhotoPort = 1;      // their ADC ports
constexpr uint8_t kAccelXPort = 4;
constexpr uint32_t kSecondCounts = 1024;  // timer counts
constexpr int64_t kSecond = 4000000;      // ticks

class AggregatesOverControlPort : public ::testing::Test {
 protected:
  void SetUp() override {
    brelo_ = std::make_unique<Brelo>(std::vector<std::string>{"-b=0", "-l=20", "1"}, "error");
    ASSERT_TRUE(brelo_->wait_until_listening())
        << brelo_->process().out() << brelo_->process().err();
    ASSERT_TRUE(commands_.connect(brelo_->command_port())) << commands_.error().text;
    ASSERT_TRUE(events_.connect(brelo_->event_port())) << events_.error().text;
    ASSERT_TRUE(events_.next(kWait));  // the initial event
  }
  void TearDown() override {
    events_.close();
    commands_.close();
    ExitStatus status = brelo_->interrupt_and_wait();
    EXPECT_TRUE(status.exited && status.code == 0) << "signal " << status.signal;
  }
  // Hands operator messages for mote 0 to its serial port, each at a tick of
  // its own well ahead of the simulation, so they are decoded in order.
  void send(std::initializer_list<OperatorMsg> messages) {
    std::optional<ctl::MoteCount> count = commands_.get_mote_count();
    ASSERT_TRUE(count) << commands_.error().text;
    int64_t time = count->time + kSecond;
    for (const OperatorMsg& m : messages) {
      auto bytes = std::as_bytes(std::span(&m, 1));
      std::span<const uint8_t> data(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size());
      ASSERT_TRUE(commands_.inject_uart(0, ctl::make_message(0, AM_OPERATORMSG, data), time++))
          << commands_.error().text;
    }
  }
  // The data bytes of the next result mote 0 sends to the host.
  std::vector<uint8_t> next_result() {
    std::optional<ctl::Event> sent = events_.wait_for(ctl::AM_UARTMSGSENTEVENT, kWait);
    if (!sent) return {};
    const auto* uart = std::get_if<ctl::UartMessageSent>(&sent->body);
    if (uart == nullptr || sent->header.moteID != 0) return {};
    const VEX_Msg& m = uart->message;
    EXPECT_EQ(m.type, AM_MSGUART);
    EXPECT_EQ(m.length, 20);
    return std::vector<uint8_t>(m.data, m.data + 20);
  }
  static uint16_t field(const std::vector<uint8_t>& r, int f) {
    return static_cast<uint16_t>(r[2 * f] << 8 | r[2 * f + 1]);
  }
  static bool zero_from(const std::vector<uint8_t>& r, std::size_t from) {
    for (std::size_t i = from; i < r.size(); ++i) {
      if (r[i] != 0) return false;
    }
    return true;
  }

  std::unique_ptr<Brelo> brelo_;
  ctl::CommandClient commands_;
  ctl::EventClient events_;
};

// Acceleration readings (A) and light readings (B) averaged by timestamp.
// Both are sampled every second, acceleration first; a light reading is
// matched by the acceleration reading of the next second, one timestamp on.
TEST_F(AggregatesOverControlPort, PairAverageOfAccelerationAndLight) {
  ASSERT_TRUE(commands_.set_adc_value(0, kAccelXPort, 400));  // stored as 100
  ASSERT_TRUE(commands_.set_adc_value(0, kPhotoPort, 804));   // stored as 201
  OperatorMsg x = op(1, AVG_1, 0, 2);
  OperatorMsg y = op(1, AVG_2, 1, 2);
  x.stream_input2 = 1;
  y.stream_input2 = 0;
  for (OperatorMsg* m : {&x, &y}) {
    m->field1 = m->field2 = 3;
    m->constant3 = 9;  // the count byte
    m->constant2 = 4;  // a B record held alone is marked in byte 8
  }
  send({sensor_open(1, kAccelX, kSecondCounts), sensor_open(1, kLight, kSecondCounts),
        local_open(1, 8), x, y, op(1, SERIAL_SEND, 2, -1, 10), message(1, CODE_START_QUERY)});

  // Every result is the average of a pair (count 2), or a record of one
  // stream that found no partner: an A record (count 1) or a B record (its
  // mark in byte 8).
  int averages = 0;
  for (int n = 0; n < 12 && averages < 3; ++n) {
    std::vector<uint8_t> r = next_result();
    ASSERT_EQ(r.size(), 20u) << "result " << n;
    EXPECT_EQ(field(r, 0), 0);  // mote 0's readings
    if (r[9] == 2) {
      ++averages;
      EXPECT_EQ(field(r, 3), 150);
      EXPECT_EQ(r[8], 0);
      EXPECT_TRUE(zero_from(r, 10));
    } else if (r[9] == 1) {
      EXPECT_EQ(field(r, 3), 100);
      EXPECT_TRUE(zero_from(r, 10));
    } else {
      EXPECT_EQ(field(r, 3), 201);
      EXPECT_EQ(r[8], 1);
      EXPECT_TRUE(zero_from(r, 9));
    }
  }
  EXPECT_EQ(averages, 3);
}

// The average of each epoch's light readings, one result per epoch.
TEST_F(AggregatesOverControlPort, WindowAverageOfLightPerEpoch) {
  ASSERT_TRUE(commands_.set_adc_value(0, kPhotoPort, 800));  // stored as 200
  OperatorMsg w = op(1, AVG_T, 0, 1);
  w.field1 = 3;
  w.constant2 = 1;  // one epoch
  send({sensor_open(1, kLight, kSecondCounts / 4), local_open(1, 8), w,
        op(1, SERIAL_SEND, 1, -1, 10), message(1, CODE_START_QUERY)});

  std::vector<uint8_t> first = next_result();
  ASSERT_EQ(first.size(), 20u);
  std::vector<uint8_t> second = next_result();
  ASSERT_EQ(second.size(), 20u);
  for (const auto& r : {first, second}) {
    EXPECT_EQ(field(r, 0), 0);
    EXPECT_EQ(field(r, 3), 200);
    EXPECT_TRUE(zero_from(r, 8));  // ten bytes, the last field zero
  }
  // The second window opens with the first reading after the first closed.
  EXPECT_EQ(second[5], first[5] + 1);
  EXPECT_GT(field(second, 1), field(first, 1));
}

// Light readings joined with the acceleration reading of the same moment.
TEST_F(AggregatesOverControlPort, SynchronousJoinOfLightAndAcceleration) {
  ASSERT_TRUE(commands_.set_adc_value(0, kPhotoPort, 804));   // 201
  ASSERT_TRUE(commands_.set_adc_value(0, kAccelXPort, 400));  // 100
  OperatorMsg outer = op(1, 3, 0, -1, 4);
  outer.stream_input2 = 1;
  OperatorMsg inner = op(1, 4, 1, 2, 4);
  inner.stream_input2 = 0;
  send({sensor_open(1, kLight, kSecondCounts), sensor_open(1, kAccelX, kSecondCounts),
        local_open(1, 8), outer, inner, op(1, SERIAL_SEND, 2, -1, 10),
        message(1, CODE_START_QUERY)});

  for (int n = 0; n < 3; ++n) {
    std::vector<uint8_t> r = next_result();
    ASSERT_EQ(r.size(), 20u) << "result " << n;
    // Light: address, timestamp, epoch, value; acceleration without its
    // timestamp: address, epoch, value.
    EXPECT_EQ(field(r, 0), 0);
    EXPECT_EQ(field(r, 3), 201);
    EXPECT_EQ(field(r, 4), 0);
    EXPECT_EQ(field(r, 5), field(r, 2));
    EXPECT_EQ(field(r, 6), 100);
    EXPECT_TRUE(zero_from(r, 14));
  }
}
}  // namespace
}  // namespace query_test

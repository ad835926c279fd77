// Queries sent by a host through the control port of a running brelo, as
// operator messages on mote 0's serial port: installed on the motes they
// name, run on sensor readings, with results back on the host's serial line.

#include <gtest/gtest.h>

#include <cstring>
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

constexpr uint8_t kLight = 1;          // sensor id of the light sensor
constexpr uint8_t kPhotoPort = 1;      // its ADC port
constexpr uint32_t kRate = 256;        // timer counts: a quarter of a second
constexpr int64_t kSecond = 4000000;   // ticks

class QueryOverControlPort : public ::testing::Test {
 protected:
  void start(std::vector<std::string> args, std::string dbg) {
    brelo_ = std::make_unique<Brelo>(std::move(args), std::move(dbg));
    ASSERT_TRUE(brelo_->wait_until_listening())
        << brelo_->process().out() << brelo_->process().err();
    ASSERT_TRUE(commands_.connect(brelo_->command_port())) << commands_.error().text;
  }
  void TearDown() override {
    if (!brelo_) return;
    commands_.close();
    ExitStatus status = brelo_->interrupt_and_wait();
    EXPECT_TRUE(status.exited && status.code == 0) << "signal " << status.signal;
  }
  // Hands operator messages for mote `to` to mote 0's serial port, one tick
  // apart. The times lie well ahead of the simulation: a command whose time
  // has passed when it arrives runs "now", and commands sharing a tick may
  // be handled in any order.
  void send(uint16_t to, std::initializer_list<OperatorMsg> messages) {
    if (next_time_ == 0) {
      std::optional<ctl::MoteCount> count = commands_.get_mote_count();
      ASSERT_TRUE(count) << commands_.error().text;
      next_time_ = count->time + 2 * kSecond;
    }
    for (const OperatorMsg& m : messages) {
      auto bytes = std::as_bytes(std::span(&m, 1));
      std::span<const uint8_t> data(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size());
      ASSERT_TRUE(commands_.inject_uart(0, ctl::make_message(to, AM_OPERATORMSG, data),
                                        next_time_++))
          << commands_.error().text;
    }
  }
  bool output_shows(const std::string& text) { return brelo_->process().wait_for_output(text); }

  std::unique_ptr<Brelo> brelo_;
  ctl::CommandClient commands_;
  int64_t next_time_ = 0;
};

TEST_F(QueryOverControlPort, TheExampleQueryRunsOnMote3) {
  start({"-b=0", "-l=5", "4"}, "usr1");
  ASSERT_TRUE(commands_.set_adc_value(3, kPhotoPort, 800));  // stored as 200
  send(3, {sensor_open(7, kLight, kRate), local_open(7), selection(7, 0, 1, GREATER, 3, 100),
            message(7, CODE_START_QUERY)});
  // Mote 0 forwards every message by radio; mote 3 decodes them in order.
  ASSERT_TRUE(output_shows("3:  CommandCode---start_query.\n")) << brelo_->process().out();
  ASSERT_TRUE(output_shows("3: S E L E C T _ C\n")) << brelo_->process().out().substr(0, 6000);
  next_time_ = 0;
  send(3, {message(7, CODE_STOP_QUERY)});
  ASSERT_TRUE(output_shows("3:  CommandCode---stop_query.\n"));

  std::string out = brelo_->process().out();
  std::vector<std::string> in_order = {
      "3:  CommandCode---Open Sensor stream.\n", "3:  SONO NEL METODO STORE_OPEN.\n",
      "3:  CommandCode---Open local stream.\n",  "3:  CommandCode---select_c.\n",
      "3:  Sono nel metodo Store_Operator.\n",    "3:  CommandCode---start_query.\n",
      "3:  Sono nel metodo store_read_request.\n", "3: Sono nella ReadDone dopo SUCCESS.\n",
      "3: SELECT_c...readDone.\n",               "3: S E L E C T _ C\n",
      "3:  CommandCode---stop_query.\n"};
  std::size_t at = 0;
  for (const std::string& line : in_order) {
    std::size_t found = out.find(line, at);
    ASSERT_NE(found, std::string::npos) << "missing in order: " << line;
    at = found + line.size();
  }
  // Nothing was decoded anywhere else.
  EXPECT_EQ(out.find("0:  CommandCode"), std::string::npos);
  EXPECT_EQ(out.find("1:  CommandCode"), std::string::npos);
}

TEST_F(QueryOverControlPort, LightReadingsOfMote1ReachTheHostThroughTheBaseStation) {
  start({"-b=0", "-l=5", "2"}, "error");
  ctl::EventClient events;
  ASSERT_TRUE(events.connect(brelo_->event_port())) << events.error().text;
  ASSERT_TRUE(events.next(kWait));  // the initial event
  ASSERT_TRUE(commands_.set_adc_value(1, kPhotoPort, 800));

  // Mote 0 reads stream 9 and sends what arrives to the host.
  send(0, {remote_open(1, 9, 0), op(1, SERIAL_SEND, 0, -1, 4), message(1, CODE_START_QUERY)});
  // Mote 1 keeps the light readings above 100 and sends them down stream 9.
  send(1, {sensor_open(1, kLight, kRate), local_open(1), remote_open(1, 9, 0),
            selection(1, 0, 1, GREATER, 3, 100), op(1, SEND, 1, 2, 4),
            message(1, CODE_START_QUERY)});

  for (int n = 0; n < 3; ++n) {
    std::optional<ctl::Event> sent = events.wait_for(ctl::AM_UARTMSGSENTEVENT, kWait);
    ASSERT_TRUE(sent) << "result " << n << ": " << events.error().text;
    const auto* uart = std::get_if<ctl::UartMessageSent>(&sent->body);
    ASSERT_NE(uart, nullptr);
    const VEX_Msg& m = uart->message;
    EXPECT_EQ(sent->header.moteID, 0);
    EXPECT_EQ(m.addr, VEX_UART_ADDR);
    EXPECT_EQ(m.type, AM_MSGUART);
    EXPECT_EQ(m.length, 20);
    // A sensor record of mote 1 (address, timestamp, epoch, value 200).
    EXPECT_EQ(m.data[0], 0);
    EXPECT_EQ(m.data[1], 1);
    EXPECT_EQ(m.data[6], 0);
    EXPECT_EQ(static_cast<uint8_t>(m.data[7]), 200);
    EXPECT_EQ(std::vector<int8_t>(m.data + 8, m.data + 20), std::vector<int8_t>(12, 0));
  }
}
}  // namespace
}  // namespace query_test

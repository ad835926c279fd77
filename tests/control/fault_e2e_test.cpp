// Clients that misbehave against a real brelo: they vanish, loop, flood,
// send cut-short or oversized frames, or name motes and ports at the edges
// of their ranges. After each abuse the simulator must still answer, still
// deliver events, and end cleanly on ^C without a sanitizer report.

#include <gtest/gtest.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "brelo_process.hpp"
#include "control/client/control_client.hpp"

using namespace control_test;
using std::chrono::milliseconds;

namespace {
constexpr int kMotes = 5;

class ControlFaults : public ::testing::Test {
 protected:
  void SetUp() override {
    brelo_ = std::make_unique<Brelo>(
        std::vector<std::string>{"-b=0", "-l=50", std::to_string(kMotes)}, std::string("boot"));
    ASSERT_TRUE(brelo_->wait_until_listening())
        << brelo_->process().out() << brelo_->process().err();
  }
  void TearDown() override { brelo_->expect_clean_end(); }

  ctl::CommandClient commands() {
    ctl::CommandClient client;
    EXPECT_TRUE(client.connect(brelo_->command_port())) << client.error().text;
    return client;
  }
  // A raw connection to a port, for bytes no well-behaved client would send.
  ctl::Connection raw(uint16_t port) {
    ctl::Connection connection;
    EXPECT_TRUE(connection.connect(port, milliseconds(2000))) << connection.error().text;
    return connection;
  }

  // The simulator still answers commands, still takes a new watcher and
  // still delivers events: an interrupt sent now comes back to the watcher.
  void expect_still_serving(uint32_t id) {
    ctl::EventClient watcher;
    ASSERT_TRUE(watcher.connect(brelo_->event_port())) << watcher.error().text;
    std::optional<ctl::Event> init = watcher.next(kWait);
    ASSERT_TRUE(init) << watcher.error().text;
    EXPECT_EQ(init->header.msgType, ctl::AM_VARNIXINITEVENT);
    ctl::CommandClient client = commands();
    client.set_timeout(milliseconds(20000));  // behind whatever a flood left queued
    std::optional<ctl::MoteCount> count = client.get_mote_count();
    ASSERT_TRUE(count) << client.error().text;
    EXPECT_EQ(count->totalMotes, kMotes);
    ASSERT_TRUE(client.interrupt(id)) << client.error().text;
    // Echoes of interrupts the abuse itself sent may come first.
    for (;;) {
      std::optional<ctl::Event> echo =
          watcher.wait_for(ctl::AM_INTERRUPTEVENT, milliseconds(20000));
      ASSERT_TRUE(echo) << watcher.error().text;
      if (std::get<ctl::InterruptEvent>(echo->body).id == id) break;
    }
  }

  std::unique_ptr<Brelo> brelo_;
};

std::vector<uint8_t> frame(uint16_t type, uint16_t mote, std::vector<uint8_t> payload = {},
                           int64_t time = 0) {
  return ctl::build_frame(type, mote, time, payload);
}

TEST_F(ControlFaults, ClientsConnectingAndLeavingInALoop) {
  // Only interrupt echoes reach event clients: nothing else tells the
  // simulator that a watcher has gone.
  {
    ctl::CommandClient client = commands();
    ASSERT_TRUE(client.set_event_mask(ctl::AM_INTERRUPTEVENT));
  }
  for (int round = 0; round < 150; ++round) {
    // Leaves at once, after half a header, or after a whole frame whose
    // acknowledgement it never reads.
    ctl::Connection command = raw(brelo_->command_port());
    std::vector<uint8_t> bytes = frame(ctl::AM_GETMOTECOUNTCOMMAND, 0, {0});
    if (round % 3 == 1) {
      ASSERT_TRUE(command.write(std::span(bytes).first(7), milliseconds(1000)));
    } else if (round % 3 == 2) {
      ASSERT_TRUE(command.write(bytes, milliseconds(1000)));
    }
    // An event client leaves before or after its initial event, or after
    // acknowledging it. (One that stays silent would hold up the next
    // newcomer for the stall timeout, by design.)
    {
      ctl::Connection event = raw(brelo_->event_port());
      if (round % 2 == 0) {
        uint8_t header[ctl::GUI_MSG_SIZE];
        EXPECT_TRUE(event.read(header, milliseconds(5000))) << event.error().text;
      }
    }
    if (round % 4 == 1) {
      ctl::EventClient watcher;
      ASSERT_TRUE(watcher.connect(brelo_->event_port()));
      ASSERT_TRUE(watcher.next(kWait)) << watcher.error().text;
    }
  }
  expect_still_serving(1);
}

TEST_F(ControlFaults, FramesCutShortAndOversizedFrames) {
  // A header that promises more payload than ever comes, then the client goes.
  {
    ctl::Connection cut = raw(brelo_->command_port());
    std::vector<uint8_t> bytes = frame(ctl::AM_UARTMSGSENDCOMMAND, 0, std::vector<uint8_t>(112, 7));
    bytes[12] = 0x03;  // payLoadLen 1000 instead of 112
    bytes[13] = 0xE8;
    ASSERT_TRUE(cut.write(bytes, milliseconds(1000)));
  }
  // A header cut inside its 14 bytes, and the largest payload a header can
  // announce: every byte arrives, only the record's own bytes count.
  {
    ctl::CommandClient client = commands();
    ASSERT_TRUE(client.send(ctl::AM_RADIOMSGSENDCOMMAND, 1, 0, std::vector<uint8_t>(65535, 0xA5)))
        << client.error().text;
    ASSERT_TRUE(client.send(ctl::AM_SETDBGCOMMAND, 0, 0, std::vector<uint8_t>(65535, 0)))
        << client.error().text;
    ASSERT_TRUE(client.send_for_reply(ctl::AM_VARIABLERESOLVECOMMAND, 0, 0,
                                      std::vector<uint8_t>(65535, 'x')))
        << client.error().text;
    // Commands whose payload is shorter than their record, or missing.
    for (uint16_t type = ctl::AM_TURNONMOTECOMMAND; type <= ctl::AM_ENDBATCHCOMMAND; ++type) {
      if (type == ctl::AM_SETRATECOMMAND || type == ctl::AM_BEGINBATCHCOMMAND) continue;
      ASSERT_TRUE(client.send_raw(frame(type, 2, {1})));
      ASSERT_TRUE(client.read_ack(milliseconds(5000))) << type << ": " << client.error().text;
      if (type == ctl::AM_VARIABLERESOLVECOMMAND || type == ctl::AM_VARIABLEREQUESTCOMMAND ||
          type == ctl::AM_GETMOTECOUNTCOMMAND) {
        std::optional<ctl::Frame> reply = client.connection().read_frame(milliseconds(5000));
        ASSERT_TRUE(reply) << type;
        EXPECT_EQ(reply->header.msgType, type + 1);
        uint8_t ack = 1;
        ASSERT_TRUE(client.connection().write(std::span(&ack, 1), milliseconds(1000)));
      }
    }
    ASSERT_TRUE(client.set_dbg(0x1));  // boot lines only again
    ASSERT_TRUE(client.set_event_mask(ctl::ALL_EVENTS_MASK));
  }
  {
    ctl::Connection half = raw(brelo_->command_port());
    std::vector<uint8_t> bytes = frame(ctl::AM_TURNOFFMOTECOMMAND, 0);
    ASSERT_TRUE(half.write(std::span(bytes).first(9), milliseconds(1000)));
  }
  expect_still_serving(2);
}

TEST_F(ControlFaults, EveryMoteIdAndPortValueAtTheEdges) {
  ctl::CommandClient client = commands();
  const std::vector<uint16_t> motes{0, kMotes - 1, kMotes, 999, 1000, 0x7FFF, 0xFFFE, 0xFFFF};
  const std::vector<int64_t> times{INT64_MIN, -1, 0, INT64_MAX};
  for (uint16_t mote : motes) {
    for (int64_t time : times) {
      ASSERT_TRUE(client.send(ctl::AM_TURNOFFMOTECOMMAND, mote, time)) << mote;
      ASSERT_TRUE(client.send(ctl::AM_TURNONMOTECOMMAND, mote, time)) << mote;
    }
    VEX_Msg message = ctl::make_message(mote, 8, std::vector<uint8_t>(96, 0xFF));
    ASSERT_TRUE(client.inject_radio(mote, message)) << mote;
    ASSERT_TRUE(client.inject_uart(mote, message)) << mote;
    for (uint16_t receiver : motes) {
      for (uint32_t scaled : {0u, 10000u, 10001u, 0xFFFFFFFFu}) {
        ASSERT_TRUE(client.send(ctl::AM_SETLINKPROBCOMMAND, mote, 0,
                                ctl::to_bytes(ctl::SetLinkProbCommand{receiver, 0, scaled})))
            << mote << "->" << receiver;
      }
    }
    for (uint8_t port : {0, 1, 7, 8, 255}) {
      for (uint16_t value : {0, 1023, 1024, 0xFFFF}) {
        ASSERT_TRUE(client.set_adc_value(mote, port, value)) << mote << " port " << int(port);
      }
    }
    ASSERT_TRUE(client.send(ctl::AM_INTERRUPTCOMMAND, mote, 0,
                            ctl::to_bytes(ctl::InterruptCommand{0xFFFFFFFF})));
    ASSERT_TRUE(client.send(ctl::AM_SETEVENTMASKCOMMAND, mote, 0,
                            ctl::to_bytes(ctl::SetEventMaskCommand{0xFFFF})));
    if (mote < kMotes) {
      std::optional<ctl::VariableResolveResponse> resolved =
          client.resolve(mote, "PellundM$open_table");
      ASSERT_TRUE(resolved) << client.error().text;
      EXPECT_NE(resolved->length, ctl::UNKNOWN_VARIABLE_LENGTH) << mote;
    } else {
      // Commands for motes that do not exist are acknowledged and ignored:
      // no reply follows.
      std::vector<uint8_t> name(256, 0);
      ASSERT_TRUE(client.send(ctl::AM_VARIABLERESOLVECOMMAND, mote, 0, name)) << mote;
      EXPECT_FALSE(client.connection().readable_within(milliseconds(50))) << mote;
    }
  }
  for (uint32_t addr : {0u, 1u, 0x7FFFFFFFu, 0xFFFFFF00u, 0xFFFFFFFFu}) {
    for (uint8_t length : {0, 1, 255}) {
      ASSERT_TRUE(client.request(addr, length)) << addr << " " << int(length);
    }
  }
  for (uint32_t rate : {0u, 1u, 0xFFFFFFFFu, 50000u}) {
    ASSERT_TRUE(client.send(ctl::AM_SETRATECOMMAND, 0, 0, ctl::to_bytes(ctl::SetRateCommand{rate})));
  }
  for (int64_t modes : {INT64_MIN, int64_t{-1}, int64_t{0}, int64_t{1}}) {
    ASSERT_TRUE(client.set_dbg(modes));
  }
  expect_still_serving(3);
}

TEST_F(ControlFaults, FloodOfCommandsWhileOthersWait) {
  // One client pours out commands of every kind without reading an
  // acknowledgement; another keeps working beside it.
  ctl::Connection flooder = raw(brelo_->command_port());
  std::vector<uint8_t> burst;
  for (int i = 0; i < 2000; ++i) {
    auto mote = static_cast<uint16_t>(i % kMotes);
    std::vector<std::vector<uint8_t>> frames{
        frame(i % 2 == 0 ? ctl::AM_TURNOFFMOTECOMMAND : ctl::AM_TURNONMOTECOMMAND, mote),
        frame(ctl::AM_SETADCPORTVALUECOMMAND, mote,
              ctl::to_bytes(ctl::SetADCPortValueCommand{1, 0, static_cast<uint16_t>(i)})),
        frame(ctl::AM_UARTMSGSENDCOMMAND, mote,
              ctl::to_bytes(ctl::make_message(mote, 8, std::vector<uint8_t>(32, uint8_t(i))))),
        frame(ctl::AM_SETLINKPROBCOMMAND, mote,
              ctl::to_bytes(ctl::SetLinkProbCommand{static_cast<uint16_t>(i % 7), 0, 5000})),
    };
    for (const auto& f : frames) burst.insert(burst.end(), f.begin(), f.end());
  }
  ASSERT_TRUE(flooder.write(burst, milliseconds(60000))) << flooder.error().text;
  expect_still_serving(4);
}

TEST_F(ControlFaults, EventClientsThatNeverAcknowledgeOrVanishMidFrame) {
  // Both take and acknowledge their initial event and are then flooded
  // with debug lines; the first acknowledges none, the second leaves in
  // the middle of a frame.
  ctl::EventClient silent, vanishing;
  for (ctl::EventClient* c : {&silent, &vanishing}) {
    ASSERT_TRUE(c->connect(brelo_->event_port())) << c->error().text;
    ASSERT_TRUE(c->next(kWait)) << c->error().text;
  }
  ctl::CommandClient client = commands();
  ASSERT_TRUE(client.set_dbg(-1));
  uint8_t partial[5];
  ASSERT_TRUE(vanishing.connection().read(partial, kWait)) << vanishing.error().text;
  vanishing.close();
  ASSERT_TRUE(client.set_dbg(0x1));
  expect_still_serving(5);
}
}  // namespace

// Variable reads of a real brelo answer the variable's current bytes
// wherever the simulation thread happens to be: held still at rate 0,
// asleep between events at a low rate, waiting for a slow watcher's
// acknowledgement, or waiting for a watcher under -gui.

#include <gtest/gtest.h>

#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "brelo_process.hpp"
#include "control/client/control_client.hpp"

using namespace control_test;
using std::chrono::milliseconds;

namespace {
using Bytes = std::vector<uint8_t>;

const Bytes kStopped{0, 0, 0, 0};  // TimerM$mState of a mote switched off

class VariableReads : public ::testing::Test {
 protected:
  void start(std::vector<std::string> args, std::string dbg) {
    brelo_ = std::make_unique<Brelo>(std::move(args), std::move(dbg));
    ASSERT_TRUE(brelo_->wait_until_listening())
        << brelo_->process().out() << brelo_->process().err();
    ASSERT_TRUE(client_.connect(brelo_->command_port())) << client_.error().text;
  }
  void TearDown() override {
    if (brelo_) brelo_->expect_clean_end();
  }
  bool output_shows(const std::string& text) { return brelo_->process().wait_for_output(text); }

  // The variable's bytes as brelo answers them; nullopt when it did not.
  std::optional<Bytes> read(uint16_t mote, const std::string& name) {
    auto where = client_.resolve(mote, name);
    if (!where) return std::nullopt;
    auto answer = client_.request(where->addr, static_cast<uint8_t>(where->length));
    if (!answer) return std::nullopt;
    return Bytes(answer->value, answer->value + answer->length);
  }

  // A booted mote runs its clock at scale 3 and has timers running.
  void expect_running_mote(uint16_t mote) {
    EXPECT_EQ(read(mote, "HPLClock$mscale"), Bytes{3}) << client_.error().text;
    std::optional<Bytes> timers = read(mote, "TimerM$mState");
    ASSERT_TRUE(timers) << client_.error().text;
    EXPECT_NE(*timers, kStopped);
  }

  std::unique_ptr<Brelo> brelo_;
  ctl::CommandClient client_;
};
}  // namespace

TEST_F(VariableReads, RateZeroHoldsTimeButReadsStillAnswer) {
  start({"-b=0", "2"}, "boot");
  ASSERT_TRUE(output_shows("1: BOOT: Mote booting"));
  ASSERT_TRUE(client_.set_rate(0));
  std::this_thread::sleep_for(milliseconds(200));  // the simulation thread now holds for good
  expect_running_mote(1);
  expect_running_mote(0);
}

TEST_F(VariableReads, LowRateReadsSeeTheMoteAsItIsNow) {
  start({"-b=0", "-l=0.01", "2"}, "boot,sim");
  ASSERT_TRUE(output_shows("1: BOOT: Mote booting"));
  expect_running_mote(1);
  // Switching off stops the mote's timers; a read then shows its memory as
  // it stands, not what an earlier read saw.
  ASSERT_TRUE(client_.turn_off(1));
  ASSERT_TRUE(output_shows("SIM: Turning off mote 1"));
  EXPECT_EQ(read(1, "TimerM$mState"), kStopped) << client_.error().text;
  EXPECT_EQ(read(1, "HPLClock$mscale"), Bytes{3});  // the clock is left as it was
}

// The test plays a watcher that takes 30 ms over each acknowledgement and
// reads while one is still outstanding: the simulation thread is then
// waiting in the middle of sending an event.
TEST_F(VariableReads, SlowWatcherAndTheWaitForAWatcherDoNotHoldReadsUp) {
  start({"-gui", "-b=0", "2"}, "radio,sim");
  ctl::EventClient watcher;
  ASSERT_TRUE(watcher.connect(brelo_->event_port())) << watcher.error().text;
  // Takes events, each acknowledged 30 ms after the one before, until
  // `wanted` holds for one, which stays unacknowledged.
  auto watch_until = [&](auto wanted) {
    for (;;) {
      std::optional<ctl::Event> event = watcher.next_unacknowledged(kWait);
      if (!event) return false;
      if (wanted(*event)) return true;
      std::this_thread::sleep_for(milliseconds(30));
      if (!watcher.acknowledge()) return false;
    }
  };
  ASSERT_TRUE(watch_until([](const ctl::Event& event) {
    auto* line = std::get_if<ctl::DebugMessage>(&event.body);
    return line != nullptr && line->text.find("event handled for mote 1") != std::string::npos;
  }));
  expect_running_mote(1);

  // A line of mote 0 that comes after mote 1 was switched off belongs to a
  // later event: the read must see the mote stopped.
  ASSERT_TRUE(watcher.acknowledge());
  ASSERT_TRUE(client_.turn_off(1));
  ASSERT_TRUE(watch_until([&](const ctl::Event& event) {
    return event.header.moteID == 0 &&
           brelo_->process().out().find("SIM: Turning off mote 1") != std::string::npos;
  }));
  EXPECT_EQ(read(1, "TimerM$mState"), kStopped) << client_.error().text;

  // Without a watcher a -gui run waits for one at its next event.
  watcher.close();
  expect_running_mote(0);
}

// Variable reads of a real brelo answer the variable's current bytes
// wherever the simulation thread happens to be: held still at rate 0,
// asleep between events at a low rate, waiting for a slow watcher's
// acknowledgement, or waiting for a watcher under -gui.

#include <gtest/gtest.h>

#include <condition_variable>
#include <memory>
#include <mutex>
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

// An event client that takes 30 ms over each acknowledgement and, once
// asked, holds back the acknowledgement of the next line a given mote
// prints, so that the simulation thread waits for it until released.
class SlowWatcher {
 public:
  explicit SlowWatcher(uint16_t port) {
    EXPECT_TRUE(events_.connect(port)) << events_.error().text;
    thread_ = std::thread([this] { run(); });
  }
  ~SlowWatcher() { close(); }

  void close() {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      done_ = true;
      held_ = false;
    }
    changed_.notify_all();
    if (thread_.joinable()) thread_.join();
    events_.close();
  }
  bool wait_for_line(const std::string& text) {
    std::unique_lock<std::mutex> lock(mutex_);
    return changed_.wait_for(lock, kWait, [&] { return seen_.find(text) != std::string::npos; });
  }
  // Holds the next debug line of `mote`; true once it is held.
  bool hold_next(uint16_t mote) {
    std::unique_lock<std::mutex> lock(mutex_);
    hold_mote_ = mote;
    return changed_.wait_for(lock, kWait, [&] { return held_; });
  }
  void release() {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      hold_mote_.reset();
      held_ = false;
    }
    changed_.notify_all();
  }

 private:
  void run() {
    for (;;) {
      std::optional<ctl::Event> event = events_.next_unacknowledged(milliseconds(200));
      std::unique_lock<std::mutex> lock(mutex_);
      if (done_) return;
      if (!event) {
        if (events_.error().kind == ctl::ErrorKind::timeout) continue;
        return;
      }
      if (auto* line = std::get_if<ctl::DebugMessage>(&event->body)) {
        seen_ += line->text;
        if (hold_mote_ == event->header.moteID) {
          held_ = true;
          changed_.notify_all();
          changed_.wait(lock, [&] { return !held_; });
        }
      }
      changed_.notify_all();
      lock.unlock();
      std::this_thread::sleep_for(milliseconds(30));
      if (!events_.acknowledge()) return;
    }
  }

  ctl::EventClient events_;
  std::thread thread_;
  std::mutex mutex_;
  std::condition_variable changed_;
  std::string seen_;
  std::optional<uint16_t> hold_mote_;
  bool held_ = false;
  bool done_ = false;
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

TEST_F(VariableReads, SlowWatcherAndTheWaitForAWatcherDoNotHoldReadsUp) {
  start({"-gui", "-b=0", "2"}, "radio,sim");
  auto watcher = std::make_unique<SlowWatcher>(brelo_->event_port());
  ASSERT_TRUE(watcher->wait_for_line("Channel Mon event handled for mote 1"));
  expect_running_mote(1);

  // The first line of mote 0 after mote 1 was switched off comes from a
  // later event; while its acknowledgement is held back the simulation
  // thread waits in the middle of sending it.
  ASSERT_TRUE(client_.turn_off(1));
  ASSERT_TRUE(output_shows("SIM: Turning off mote 1"));
  ASSERT_TRUE(watcher->hold_next(0));
  EXPECT_EQ(read(1, "TimerM$mState"), kStopped) << client_.error().text;
  watcher->release();

  // Without a watcher a -gui run waits for one at its next event.
  watcher->close();
  watcher.reset();
  expect_running_mote(0);
}

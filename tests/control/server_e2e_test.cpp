// The control ports of a real brelo process, through the client library:
// what clients see and what the simulation does with their commands. Every
// run gets ports of its own; each test ends the run with ^C and checks that
// it ended cleanly (and, in the ThreadSanitizer build, without a race).

#include <gtest/gtest.h>
#include <signal.h>

#include <atomic>
#include <cstdio>
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
constexpr int64_t kSecond = 4000000;

class ControlPorts : public ::testing::Test {
 protected:
  void start(std::vector<std::string> args, std::optional<std::string> dbg = std::string()) {
    brelo_ = std::make_unique<Brelo>(std::move(args), std::move(dbg));
    ASSERT_TRUE(brelo_->wait_until_listening())
        << brelo_->process().out() << brelo_->process().err();
  }
  void TearDown() override {
    if (!brelo_) return;
    if (ended_) {
      EXPECT_EQ(brelo_->sanitizer_report(), "");
    } else {
      brelo_->expect_clean_end();
    }
  }
  ctl::CommandClient commands() {
    ctl::CommandClient client;
    EXPECT_TRUE(client.connect(brelo_->command_port())) << client.error().text;
    return client;
  }
  // A connected event client that has taken its initial event: from then
  // on it receives every event the simulation sends.
  ctl::EventClient events(std::optional<ctl::Event>* init = nullptr) {
    ctl::EventClient client;
    EXPECT_TRUE(client.connect(brelo_->event_port())) << client.error().text;
    std::optional<ctl::Event> first = client.next(kWait);
    EXPECT_TRUE(first) << client.error().text;
    if (first) {
      EXPECT_EQ(first->header.msgType, ctl::AM_VARNIXINITEVENT);
    }
    if (init != nullptr) *init = std::move(first);
    return client;
  }
  bool output_shows(const std::string& text) { return brelo_->process().wait_for_output(text); }

  std::unique_ptr<Brelo> brelo_;
  bool ended_ = false;
};

// Ticks from a time as brelo prints it ("h:m:s.ffffffff").
int64_t ticks_of(const std::string& text) {
  int hours = 0, minutes = 0, seconds = 0;
  long long fraction = 0;
  EXPECT_EQ(std::sscanf(text.c_str(), "%d:%d:%d.%8lld", &hours, &minutes, &seconds, &fraction), 4)
      << text;
  return ((hours * 60LL + minutes) * 60 + seconds) * kSecond + fraction / 25;
}

// The time at which the queue popped the command that `handled` names: the
// last "Popping event for mote M" line before it.
std::optional<int64_t> run_time_of(const std::string& out, const std::string& handled, int mote) {
  std::size_t at = out.find(handled);
  if (at == std::string::npos) return std::nullopt;
  std::string popping = "Popping event for mote " + std::to_string(mote) + " with time ";
  std::size_t line = out.rfind(popping, at);
  if (line == std::string::npos) return std::nullopt;
  return ticks_of(out.substr(line + popping.size(), 40));
}
}  // namespace

TEST_F(ControlPorts, InitialEventDescribesTheRun) {
  start({"-s=0", "-l=2.5", "7"});
  std::optional<ctl::Event> event;
  ctl::EventClient client = events(&event);
  ASSERT_TRUE(event);
  EXPECT_EQ(event->header.moteID, 0);
  EXPECT_GE(event->header.time, 0);
  EXPECT_EQ(event->header.payLoadLen, 9);
  auto init = std::get<ctl::VarnixInitEvent>(event->body);
  EXPECT_EQ(init.numMotes, 7);
  EXPECT_EQ(init.radioModel, 0);
  EXPECT_EQ(init.rate, 2500u);
}

TEST_F(ControlPorts, EveryCommandOutsideABatchGetsOneByteAndRepliesFollowIt) {
  start({"-s=0", "10"});
  ctl::CommandClient client = commands();
  ASSERT_TRUE(client.send_raw(ctl::build_frame(ctl::AM_TURNOFFMOTECOMMAND, 1, 0, {})));
  EXPECT_TRUE(client.read_ack(kWait));
  EXPECT_FALSE(client.connection().readable_within(milliseconds(100)));

  std::optional<ctl::Frame> reply =
      client.send_for_reply(ctl::AM_GETMOTECOUNTCOMMAND, 0, 0, std::vector<uint8_t>{0});
  ASSERT_TRUE(reply) << client.error().text;
  EXPECT_EQ(reply->header.msgType, ctl::AM_GETMOTECOUNTRESPONSE);
  EXPECT_EQ(reply->header.moteID, 0xFFFF);
  EXPECT_EQ(reply->payload.size(), 128u);
  std::optional<ctl::MoteCount> count = client.get_mote_count();
  ASSERT_TRUE(count);
  EXPECT_EQ(count->totalMotes, 10);
  EXPECT_EQ(std::count(count->present.begin(), count->present.end(), true), 1000);
  EXPECT_FALSE(client.connection().readable_within(milliseconds(50)));
}

TEST_F(ControlPorts, VariablesResolveAndReadOverTheCommandPort) {
  start({"-s=0", "-l=4", "4"}, "sim");
  ctl::CommandClient client = commands();
  auto two = client.resolve(2, "TimerM$mState");
  auto three = client.resolve(3, "TimerM$mState");
  ASSERT_TRUE(two && three) << client.error().text;
  EXPECT_EQ(three->length, 4u);
  EXPECT_EQ(three->addr, two->addr + 4);
  auto table = client.resolve(0, "PellundM$operator_table");
  ASSERT_TRUE(table);
  EXPECT_EQ(table->length, 528u);
  auto unknown = client.resolve(0, "TimerM$noSuchVariable");
  ASSERT_TRUE(unknown);
  EXPECT_EQ(unknown->addr, 0u);
  EXPECT_EQ(unknown->length, 0xFFFFFFFFu);

  // A booted mote's scale reads 3; length 0 asks for 256 bytes.
  ASSERT_TRUE(client.turn_on(1));
  auto scale = client.resolve(1, "TimerM$mScale");
  ASSERT_TRUE(scale);
  uint8_t value = 0;
  for (int attempt = 0; attempt < 50 && value != 3; ++attempt) {
    auto read = client.request(scale->addr, 1);
    ASSERT_TRUE(read) << client.error().text;
    EXPECT_EQ(read->length, 1u);
    value = read->value[0];
    if (value != 3) std::this_thread::sleep_for(milliseconds(20));
  }
  EXPECT_EQ(value, 3);
  auto whole = client.request(table->addr, 0);
  ASSERT_TRUE(whole);
  EXPECT_EQ(whole->length, 256u);
  // An address never handed out reads as zeros.
  auto forged = client.request(0xFFFFFFF0u, 8);
  ASSERT_TRUE(forged);
  EXPECT_EQ(std::count(forged->value, forged->value + 8, 0), 8);
  EXPECT_TRUE(output_shows("SIM: Resolving variable TimerM$mState for mote 3: 0x"));
}

TEST_F(ControlPorts, BatchAcknowledgesOnlyItsEnd) {
  start({"-s=0", "3"});
  ctl::CommandClient client = commands();
  ASSERT_TRUE(client.begin_batch());
  EXPECT_FALSE(client.connection().readable_within(milliseconds(150)));  // begin: no byte
  ASSERT_TRUE(client.send(ctl::AM_TURNONMOTECOMMAND, 1, 0));
  EXPECT_FALSE(client.get_mote_count().has_value());  // reply dropped
  EXPECT_FALSE(client.resolve(1, "TimerM$mState").has_value());
  EXPECT_FALSE(client.connection().readable_within(milliseconds(150)));
  ASSERT_TRUE(client.send_raw(ctl::build_frame(ctl::AM_ENDBATCHCOMMAND, 0, 0, {})));
  EXPECT_TRUE(client.read_ack(kWait));
  EXPECT_FALSE(client.connection().readable_within(milliseconds(100)));
}

TEST_F(ControlPorts, EventMaskOneLetsOnlyDebugLinesThrough) {
  start({"-s=0", "2"}, "temp");
  ctl::EventClient watcher = events();
  ctl::CommandClient client = commands();
  ASSERT_TRUE(client.set_event_mask(1));
  // Each interrupt prints a debug line and then decides on its echo; the
  // next interrupt is sent only once that line is here, so it runs after
  // the decision.
  std::vector<ctl::Event> seen;
  for (uint32_t id : {5, 6, 8}) {
    ASSERT_TRUE(client.interrupt(id));
    std::string wanted = "id: " + std::to_string(id) + ".";
    for (bool found = false; !found;) {
      std::optional<ctl::Event> event = watcher.next(kWait);
      ASSERT_TRUE(event) << watcher.error().text;
      seen.push_back(*event);
      auto* line = std::get_if<ctl::DebugMessage>(&event->body);
      found = line != nullptr && line->text.find(wanted) != std::string::npos;
    }
  }
  for (const ctl::Event& event : seen) EXPECT_EQ(event.header.msgType, ctl::AM_DEBUGMSGEVENT);
  // A new client still gets its initial event.
  std::optional<ctl::Event> init;
  ctl::EventClient late = events(&init);
  EXPECT_TRUE(init);
  late.close();

  ASSERT_TRUE(client.set_event_mask(0xFFFF));
  ASSERT_TRUE(client.interrupt(7));
  for (;;) {
    std::optional<ctl::Event> echo = watcher.wait_for(ctl::AM_INTERRUPTEVENT, kWait);
    ASSERT_TRUE(echo) << watcher.error().text;
    uint32_t id = std::get<ctl::InterruptEvent>(echo->body).id;
    if (id == 7) break;
    EXPECT_EQ(id, 8u);  // sent as the mask changed back, perhaps; never 5 or 6
  }
}

TEST_F(ControlPorts, InterruptIsEchoedWithItsIdAtTheCurrentTime) {
  start({"-s=0", "-l=4", "2"});
  ctl::EventClient watcher = events();
  ctl::CommandClient client = commands();
  std::optional<ctl::MoteCount> before = client.get_mote_count();
  ASSERT_TRUE(before);
  ASSERT_TRUE(client.interrupt(0xDEADBEEF));
  std::optional<ctl::Event> echo = watcher.wait_for(ctl::AM_INTERRUPTEVENT, kWait);
  ASSERT_TRUE(echo) << watcher.error().text;
  EXPECT_EQ(echo->header.moteID, 0xFFFF);
  EXPECT_EQ(std::get<ctl::InterruptEvent>(echo->body).id, 0xDEADBEEFu);
  EXPECT_GE(echo->header.time, before->time);
}

TEST_F(ControlPorts, CommandForAnInvalidMoteIsAcknowledgedAndIgnored) {
  start({"-s=0", "2"}, "sim");
  ctl::CommandClient client = commands();
  EXPECT_TRUE(client.turn_on(2));
  EXPECT_TRUE(client.turn_on(999));
  EXPECT_TRUE(output_shows("SIM: Received command for invalid mote: 999\n"));
  EXPECT_TRUE(client.get_mote_count().has_value());
  EXPECT_EQ(brelo_->process().out().find("SIM: Turning on mote 2"), std::string::npos);
}

TEST_F(ControlPorts, TurnOnRunsNowForAPastTimeAndLaterForAFutureOne) {
  // No mote boots, so both motes are off: the commands are forced.
  start({"-s=0", "-l=4", "3"}, "sim,queue");
  ctl::CommandClient client = commands();
  std::optional<ctl::MoteCount> now = client.get_mote_count();
  ASSERT_TRUE(now);
  ASSERT_TRUE(client.turn_on(1, 0));
  ASSERT_TRUE(output_shows("SIM: Turning on mote 1\n"));
  std::optional<int64_t> ran = run_time_of(
      brelo_->process().out(), "SIM: Handling incoming command type 4096 for mote 1", 1);
  ASSERT_TRUE(ran);
  EXPECT_GE(*ran, now->time);
  EXPECT_LT(*ran, now->time + 10 * kSecond);

  std::optional<ctl::MoteCount> later = client.get_mote_count();
  ASSERT_TRUE(later);
  ASSERT_TRUE(client.turn_on(2, later->time + kSecond));
  ASSERT_TRUE(output_shows("SIM: Turning on mote 2\n"));
  ran = run_time_of(brelo_->process().out(), "SIM: Handling incoming command type 4096 for mote 2",
                    2);
  ASSERT_TRUE(ran);
  EXPECT_EQ(*ran, later->time + kSecond);
}

TEST_F(ControlPorts, SwitchedOffMoteIsSwitchedOnAgain) {
  start({"-b=0", "-l=4", "2"}, "sim,boot");
  ASSERT_TRUE(output_shows("1: BOOT: Mote booting"));
  ctl::CommandClient client = commands();
  ASSERT_TRUE(client.turn_off(1));
  ASSERT_TRUE(output_shows("SIM: Turning off mote 1\n"));
  ASSERT_TRUE(client.turn_on(1));
  ASSERT_TRUE(output_shows("SIM: Turning on mote 1\n"));
  std::string out = brelo_->process().out();
  EXPECT_LT(out.find("SIM: Turning off mote 1"), out.find("SIM: Turning on mote 1"));
}

TEST_F(ControlPorts, InjectedMessagesReachTheMotes) {
  start({"-b=0", "2"}, "sim");
  ctl::CommandClient client = commands();
  std::vector<uint8_t> data{1, 2, 3};
  ASSERT_TRUE(client.inject_uart(0, ctl::make_message(0, 8, data)));
  ASSERT_TRUE(client.inject_radio(1, ctl::make_message(1, 8, data)));
  EXPECT_TRUE(output_shows("SIM: Enqueueing UART message for mote 0 (payloadlen 112)\n"));
  EXPECT_TRUE(output_shows("SIM: Enqueueing radio message for mote 1 (payloadlen 112)\n"));
}

TEST_F(ControlPorts, FifthClientIsClosedAtOnce) {
  start({"-s=0", "2"});
  std::vector<ctl::CommandClient> held;
  for (int i = 0; i < 4; ++i) {
    held.push_back(commands());
    ASSERT_TRUE(held.back().get_mote_count());  // in a slot now
  }
  ctl::CommandClient fifth = commands();
  EXPECT_FALSE(fifth.get_mote_count().has_value());
  EXPECT_EQ(fifth.error().kind, ctl::ErrorKind::closed);

  std::vector<ctl::EventClient> watchers;
  for (int i = 0; i < 4; ++i) watchers.push_back(events());
  std::optional<ctl::Event> init;
  ctl::EventClient fifth_watcher = events(&init);  // still sent its initial event
  ASSERT_TRUE(init);
  EXPECT_FALSE(fifth_watcher.next(kWait).has_value());
  EXPECT_EQ(fifth_watcher.error().kind, ctl::ErrorKind::closed);

  // A slot set free is taken by the next client.
  held.pop_back();
  ctl::CommandClient next = commands();
  bool served = false;
  for (int attempt = 0; attempt < 50 && !served; ++attempt) {
    served = next.get_mote_count().has_value();
    if (!served) {
      std::this_thread::sleep_for(milliseconds(20));
      next = commands();
    }
  }
  EXPECT_TRUE(served);
}

TEST_F(ControlPorts, GuiRunWaitsForAnEventClient) {
  start({"-gui", "-b=0", "2"}, "boot");
  std::this_thread::sleep_for(milliseconds(300));
  EXPECT_EQ(brelo_->process().out().find("BOOT: Scheduling"), std::string::npos);
  ctl::EventClient watcher = events();
  std::atomic<bool> stop{false};
  std::thread reader([&] {
    while (!stop && watcher.next(milliseconds(100)).has_value()) {
    }
  });
  EXPECT_TRUE(output_shows("BOOT: Scheduling for boot"));
  EXPECT_TRUE(output_shows("BOOT: Mote booting"));
  stop = true;
  reader.join();
}

TEST_F(ControlPorts, GuiRunStillEndsOnInterruptWhileWaiting) {
  start({"-gui", "2"}, "boot");
  ExitStatus status = brelo_->interrupt_and_wait();
  ended_ = true;
  EXPECT_TRUE(status.exited);
  EXPECT_EQ(status.code, 0);
  EXPECT_NE(brelo_->process().out().find("Exiting on SIGINT at"), std::string::npos);
}

TEST_F(ControlPorts, MisbehavingClientsDoNotStopTheSimulation) {
  start({"-b=0", "-l=50", "3"}, "temp,boot");
  // One leaves in the middle of a frame.
  {
    ctl::CommandClient quitter = commands();
    std::vector<uint8_t> frame =
        ctl::build_frame(ctl::AM_RADIOMSGSENDCOMMAND, 0, 0, std::vector<uint8_t>(112, 1));
    ASSERT_TRUE(quitter.send_raw(std::span(frame).first(30)));
  }
  // One floods commands without reading a single acknowledgement.
  {
    ctl::CommandClient flooder = commands();
    std::vector<uint8_t> burst;
    for (int i = 0; i < 3000; ++i) {
      auto frame =
          ctl::build_frame(ctl::AM_SETRATECOMMAND, 0, 0, ctl::to_bytes(ctl::SetRateCommand{50000}));
      burst.insert(burst.end(), frame.begin(), frame.end());
    }
    ASSERT_TRUE(flooder.send_raw(burst));
  }
  // One takes its initial event, then never acknowledges another: it is
  // dropped after the stall timeout, and the watcher after it goes on.
  ctl::EventClient silent = events();
  ctl::EventClient watcher = events();
  ctl::CommandClient client = commands();
  ASSERT_TRUE(client.interrupt(11));
  std::optional<ctl::Event> echo = watcher.wait_for(ctl::AM_INTERRUPTEVENT, milliseconds(20000));
  ASSERT_TRUE(echo) << watcher.error().text;
  EXPECT_EQ(std::get<ctl::InterruptEvent>(echo->body).id, 11u);
  EXPECT_TRUE(client.get_mote_count().has_value());
}

TEST_F(ControlPorts, SettingsChangeWhileTheSimulationRuns) {
  start({"-b=0", "-l=20", "3"}, "all,-sim");
  ctl::EventClient watcher = events();
  std::atomic<bool> stop{false};
  std::thread reader([&] {
    while (!stop && watcher.next(milliseconds(100)).has_value()) {
    }
  });
  ctl::CommandClient client = commands();
  for (int i = 0; i < 100; ++i) {
    ASSERT_TRUE(client.set_rate(i % 2 == 0 ? 30.0 : 10.0));
    ASSERT_TRUE(client.set_dbg(i % 2 == 0 ? -1 : 0x1000000));
    ASSERT_TRUE(client.set_event_mask(i % 2 == 0 ? 0xFFFF : 0x41));
    ASSERT_TRUE(client.set_link_probability(0, 1, 0.25));
    ASSERT_TRUE(client.set_adc_value(1, 2, static_cast<uint16_t>(i)));
  }
  std::optional<ctl::MoteCount> count = client.get_mote_count();
  EXPECT_TRUE(count.has_value());
  stop = true;
  reader.join();
}

TEST_F(ControlPorts, RunEndsCleanlyAtItsTimeLimitWithClientsConnected) {
  start({"-b=0", "-l=1", "-t=1", "2"}, "boot");
  ctl::EventClient watcher = events();
  ctl::CommandClient client = commands();
  ASSERT_TRUE(client.get_mote_count());
  std::thread reader([&] {
    while (watcher.next(milliseconds(5000)).has_value()) {
    }
  });
  ExitStatus status = brelo_->process().wait();
  ended_ = true;
  reader.join();
  EXPECT_TRUE(status.exited);
  EXPECT_EQ(status.code, 0);
  EXPECT_NE(brelo_->process().out().find("Simulation of 2 motes completed.\n"), std::string::npos);
  EXPECT_EQ(watcher.error().kind, ctl::ErrorKind::closed);
}

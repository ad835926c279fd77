// The channel monitor of a mote whose application is the radio alone: its
// carrier sense with backoff drawn from the mote's own generator, and its
// preamble and start-symbol search.

#include "radio/channel_mon_c.hpp"

#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <vector>

#include "support/call_at.hpp"
#include "support/world_test.hpp"
#include "kernel/mote_lifecycle.hpp"
#include "kernel/scheduler.hpp"
#include "radio/connectivity.hpp"
#include "radio/orla_high_speed_radio_m.hpp"
#include "radio/radio_hardware.hpp"

namespace {
constexpr int kJammer = 9;  // a transmitter that is not a simulated mote

class ChannelMon : public WorldTest {
 protected:
  void SetUp() override {
    WorldTest::SetUp();
    set_app_entry_points({OrlaHighSpeedRadioM::Control_init, OrlaHighSpeedRadioM::Control_start,
                          OrlaHighSpeedRadioM::Control_stop});
    OrlaHighSpeedRadioM::set_upper_handlers({});
    vex_state.num_nodes = 1;
    create_simple_model();
    radio_model_init();
    brelo_start_mote(0);
  }
  void TearDown() override {
    create_simple_model();
    WorldTest::TearDown();
  }

  static void at(vex_time_t time, std::function<void()> call) {
    support::call_at(time, 0, std::move(call));
  }
  static void jam(bool on) {
    rfm->stop_transmit(kJammer);
    if (on) rfm->transmit(kJammer, 1);
  }
  // Runs events up to `until`, calling `after_each` after every one.
  static void run_until(
      vex_time_t until, const std::function<void()>& after_each = [] {}) {
    VEXH_run_all_tasks();
    while (!vex_state.queue.is_empty() && vex_state.queue.peek_event_time() <= until) {
      vex_state.queue.handle_next_event(vex_state);
      VEXH_run_all_tasks();
      after_each();
    }
  }
};
}  // namespace

// Mote 0's generator starts 24870, 53954, 42243: a countdown of
// (24870 & 0x3F) + 100 = 138 samples, then backoffs of (53954 & 0x1FF) + 50 =
// 244 and (42243 & 0x1FF) + 50 = 309 samples while the channel is busy.
TEST_F(ChannelMon, BusyChannelBacksOffByTheMotesOwnRandomSequence) {
  VEX_Msg msg{};
  at(10, [&] {
    jam(true);
    EXPECT_EQ(OrlaHighSpeedRadioM::Send_send(&msg), SUCCESS);
    EXPECT_EQ(ChannelMonC::vars().CM_waiting, 138);
  });
  at(100100, [] { jam(false); });

  std::vector<std::pair<vex_time_t, int>> reloads;
  int16_t last = 0;
  vex_time_t sending_from = 0;
  run_until(200000, [&] {
    const int16_t waiting = ChannelMonC::vars_of(0).CM_waiting;
    if (waiting > last && last > 0) reloads.emplace_back(vex_state.vex_time.load(), waiting);
    last = waiting;
    if (sending_from == 0 &&
        OrlaHighSpeedRadioM::vars_of(0).state != OrlaHighSpeedRadioM::IDLE_STATE) {
      sending_from = vex_state.vex_time;
    }
  });
  // Checks fall at the samples that bring the countdown to 1.
  EXPECT_EQ(reloads, (std::vector<std::pair<vex_time_t, int>>{{137 * 200, 244}, {380 * 200, 309}}));
  EXPECT_EQ(sending_from, 688 * 200);  // the channel has been quiet since 100100
  EXPECT_EQ(ChannelMonC::vars_of(0).CM_waiting, -1);
}

TEST_F(ChannelMon, OneCarrierSampleAmongTheLastTwelveMeansBusy) {
  VEX_Msg msg{};
  at(10, [&] { OrlaHighSpeedRadioM::Send_send(&msg); });
  // The check comes at sample 137; sample 126 is the oldest of its last 12.
  at(126 * 200 - 100, [] { jam(true); });
  at(126 * 200 + 100, [] { jam(false); });
  run_until(137 * 200);
  EXPECT_EQ(ChannelMonC::vars_of(0).CM_waiting, 244);
  EXPECT_EQ(OrlaHighSpeedRadioM::vars_of(0).state, OrlaHighSpeedRadioM::IDLE_STATE);
}

TEST_F(ChannelMon, PreambleStartsTheSearchAndThirtySamplesWithoutStartSymbolEndIt) {
  const std::vector<int> samples = {1, 1, 1, 1, 0, 0, 0, 0, 1, 1, 1};
  for (std::size_t k = 0; k < samples.size(); ++k) {
    bool on = samples[k] == 1;
    at(200 * static_cast<vex_time_t>(k + 1) - 100, [on] { jam(on); });
  }
  at(200 * 11 + 100, [] { jam(false); });
  run_until(200 * 10);
  EXPECT_EQ(ChannelMonC::vars_of(0).CM_state, ChannelMonC::IDLE_STATE);
  run_until(200 * 11);
  EXPECT_EQ(ChannelMonC::vars_of(0).CM_state, ChannelMonC::START_SYMBOL_SEARCH);
  run_until(200 * (11 + 29));
  EXPECT_EQ(ChannelMonC::vars_of(0).CM_state, ChannelMonC::START_SYMBOL_SEARCH);
  run_until(200 * (11 + 30));
  EXPECT_EQ(ChannelMonC::vars_of(0).CM_state, ChannelMonC::IDLE_STATE);
  EXPECT_EQ(radioWaitingState[0], 0);
}

// The start symbol seen every other bit: with the sender's bits on the air
// between samples, the monitor finds it, stops, and hands over to the
// timing step, which starts the receiver's bit clock 400 + 819 ticks later.
TEST_F(ChannelMon, StartSymbolHandsOverToTheTimingStep) {
  vex_time_t t = 150;  // bits of a phantom sender, 100 ticks each
  for (uint8_t byte : OrlaHighSpeedRadioM::VEXH_MHSR_start) {
    for (int bit = 7; bit >= 0; --bit, t += 100) {
      bool on = (byte >> bit) & 1;
      at(t, [on] { jam(on); });
    }
  }
  vex_time_t detected = 0;
  run_until(t, [&] {
    if (detected == 0 && radioWaitingState[0] == 1) detected = vex_state.vex_time;
  });
  ASSERT_GT(detected, 0);
  EXPECT_EQ(ChannelMonC::vars_of(0).CM_state, ChannelMonC::IDLE_STATE);
  EXPECT_FALSE(channelMonEvents[0].live);
  EXPECT_EQ(OrlaHighSpeedRadioM::vars_of(0).state, OrlaHighSpeedRadioM::RX_STATE);
  EXPECT_LT(t - detected, 8 * 100 * 2);  // found within the last two bytes
  run_until(detected + 400);
  EXPECT_EQ(radioWaitingState[0], 2);
  EXPECT_EQ(spiByteEvents[0].time, detected + 400 + 819);
}

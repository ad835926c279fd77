// Receivers stepping a frame a byte at a time (fast mode) hand back to bit
// stepping when the air stops being the one sender's: the frame then ends
// as it does when every bit is stepped, and no receiver is left parked.

#include "radio/bulk_receive.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <functional>
#include <sstream>
#include <string>
#include <vector>

#include "kernel/mote_lifecycle.hpp"
#include "kernel/run_stats.hpp"
#include "radio/radio_hardware.hpp"
#include "radio/spi_byte_fifo_c.hpp"
#include "radio_fixture.hpp"

namespace {

constexpr int kMotes = 6;
constexpr vex_time_t kRunTime = 400000;  // two frames of 40 data bytes and their acknowledgements

struct Outcome {
  std::vector<std::pair<int, std::vector<uint8_t>>> delivered;  // mote, record up to crc
  std::array<std::array<uint64_t, 3>, kMotes> counts{};          // received, CRC failed, sent
  vex_time_t first_join = -1;  // when a receiver first stepped by the byte
  int members_after_disturbance = -1;
  int members_at_end = -1;
};

class BulkReceiveTest : public RadioTest {
 protected:
  void TearDown() override {
    BulkReceive::enable(false);
    RadioTest::TearDown();
  }

  // Mote 1 sends a 40-byte record to mote 0 twice; `disturb` runs at
  // `disturb_time` as mote 0 (and an instant later, to see what is left in
  // groups).
  Outcome run(bool fast, vex_time_t disturb_time, const std::function<void()>& disturb) {
    BulkReceive::enable(fast);
    boot_simple(kMotes);
    Outcome outcome;
    static VEX_Msg first, second;
    first = payload(0x11, 40);
    second = payload(0x52, 40);
    send_at(10, 1, 0, 40, first);
    send_at(kRunTime / 2, 1, 0, 40, second);
    std::function<void()> watch = [&] {
      if (outcome.first_join < 0 && BulkReceive::member_count() > 0) {
        outcome.first_join = vex_state.vex_time;
      }
      if (vex_state.vex_time + 100 < kRunTime) at(vex_state.vex_time + 100, 0, watch);
    };
    at(50, 0, watch);
    if (disturb_time > 0) {
      at(disturb_time, 0, disturb);
      at(disturb_time + 1, 0,
         [&] { outcome.members_after_disturbance = BulkReceive::member_count(); });
    }
    run_until(kRunTime);
    outcome.members_at_end = BulkReceive::member_count();
    for (const Delivery& d : delivered) {
      const uint8_t* bytes = reinterpret_cast<const uint8_t*>(&d.msg);
      outcome.delivered.push_back({d.mote, std::vector<uint8_t>(bytes, bytes + MSG_DATA_SIZE)});
    }
    // Receivers of one frame deliver on one tick, in the queue's tie order.
    std::sort(outcome.delivered.begin(), outcome.delivered.end());
    for (int m = 0; m < kMotes; ++m) {
      const run_stats::MoteCounts& c = run_stats::counts_of(m);
      outcome.counts[m] = {c[run_stats::packets_received], c[run_stats::packets_crc_failed],
                           c[run_stats::packets_sent]};
    }
    return outcome;
  }

  // Runs in fast mode undisturbed first, to find a moment in the middle of
  // the first frame; then the disturbed run, exact and fast, from fresh worlds.
  void expect_same_when_disturbed(const std::function<void()>& disturb, Outcome& exact,
                                  Outcome& fast) {
    Outcome probe = run(true, 0, {});
    ASSERT_GT(probe.first_join, 0) << "no receiver ever stepped by the byte";
    EXPECT_EQ(probe.members_at_end, 0);
    const vex_time_t middle = probe.first_join + 20050;  // between samples, mid-frame

    TearDown();
    SetUp();
    exact = run(false, middle, disturb);
    TearDown();
    SetUp();
    fast = run(true, middle, disturb);
    EXPECT_EQ(fast.members_at_end, 0);
    EXPECT_EQ(fast.delivered, exact.delivered);
    EXPECT_EQ(fast.counts, exact.counts);
  }
};

TEST_F(BulkReceiveTest, ASecondSenderMidFrameHandsEveryReceiverBackToBitSteps) {
  // A transmitter outside the run (receivers' own clocks take their bits off
  // the air) puts a 1 on the air for two byte periods in the middle of
  // mote 1's first frame.
  auto second_sender = [] {
    rfm->transmit(kMotes, 1);
    at(vex_state.vex_time + 1600, 0, [] { rfm->stop_transmit(kMotes); });
  };
  Outcome exact, fast;
  expect_same_when_disturbed(second_sender, exact, fast);
  EXPECT_EQ(fast.members_after_disturbance, 0) << "the groups were not settled";
  // The disturbance did corrupt the first frame somewhere; the second frame
  // reached every mote intact, receivers having joined groups again.
  uint64_t failed = 0;
  for (const auto& c : exact.counts) failed += c[1];
  EXPECT_GT(failed, 0u);
  EXPECT_EQ(fast.counts[3][0], 2u);
}

TEST_F(BulkReceiveTest, AReceiverSwitchedOffMidFrameStopsItsClockAndHearsTheNextFrame) {
  auto switch_off = [] {
    brelo_stop_mote(3);
    at(vex_state.vex_time + kRunTime / 4, 0, [] { brelo_start_mote(3); });
  };
  Outcome exact, fast;
  expect_same_when_disturbed(switch_off, exact, fast);
  // Its group gave the switched-off receiver up at its next byte.
  EXPECT_GT(fast.members_after_disturbance, 0);
  EXPECT_EQ(exact.counts[2][0], 2u);
  EXPECT_EQ(exact.counts[3][0], 1u);  // the second frame, after it was switched on again
  EXPECT_FALSE(spiByteEvents[3].live && spiByteEvents[3].ending);
}

// Settling (as before a client reads variables) rebuilds each receiver's
// partial byte: at any moment of a frame the shift registers read as in a
// run where every bit was stepped, and the frame still arrives whole.
TEST_F(BulkReceiveTest, SettledReceiversShiftRegistersReadAsWithBitSteps) {
  Outcome probe = run(true, 0, {});
  ASSERT_GT(probe.first_join, 0);
  auto registers_over_a_frame = [&](bool fast) {
    TearDown();
    SetUp();
    std::vector<uint8_t> seen;
    // Eleven moments 930 ticks apart: every bit position of a byte, each
    // after the receivers have joined again at a byte boundary.
    for (int i = 0; i < 11; ++i) {
      at(probe.first_join + 20050 + 930 * i, 0, [&seen, fast] {
        if (fast) {
          EXPECT_GT(BulkReceive::member_count(), 0);
          BulkReceive::settle_all();
        }
        for (int m : {0, 2, 3, 4, 5}) seen.push_back(SpiByteFifoC::vars_of(m).spdr);
      });
    }
    Outcome outcome = run(fast, 0, {});
    EXPECT_EQ(outcome.counts[4][0], 2u);
    EXPECT_EQ(outcome.counts[4][1], 0u);
    return seen;
  };
  const std::vector<uint8_t> exact = registers_over_a_frame(false);
  const std::vector<uint8_t> fast = registers_over_a_frame(true);
  ASSERT_EQ(exact.size(), 55u);
  EXPECT_EQ(fast, exact);
}

}  // namespace

namespace {
using WakeOrder = RadioTest;

// The receivers' bit clock events, in the order they ran.
std::vector<std::string> clock_lines(const std::string& out) {
  std::vector<std::string> lines;
  std::istringstream in(out);
  for (std::string line; std::getline(in, line);) {
    if (line.find("Spi Byte event handled") != std::string::npos) lines.push_back(line);
  }
  return lines;
}

// A lossy model without its file is one lossless cell whose receivers are
// still found by walking the sender's links; the simple model finds them
// in its set of waiting receivers. Both must wake them in the same order,
// which shows in the order their clock events run on the shared ticks.
TEST_F(WakeOrder, WaitingReceiversWakeInTheOrderOfTheSendersLinks) {
  VEX_Msg msg = payload(0x21, 12);
  boot_simple(7);
  send_at(10, 3, VEX_BCAST_ADDR, 12, msg);
  const std::string simple = output_of(DBG_RADIO, [] { run_until(150000); });

  TearDown();
  SetUp();
  VEX_Msg again = payload(0x21, 12);
  vex_state.num_nodes = 7;
  create_lossy_model((::testing::TempDir() + "no_such_links.nss").c_str());
  radio_model_init();
  for (int m = 0; m < 7; ++m) brelo_start_mote(static_cast<uint16_t>(m));
  send_at(10, 3, VEX_BCAST_ADDR, 12, again);
  const std::string lossy = output_of(DBG_RADIO, [] { run_until(150000); });

  const std::vector<std::string> simple_lines = clock_lines(simple);
  ASSERT_GT(simple_lines.size(), 6u * 8 * 3 * 20);  // six receivers, the whole frame
  EXPECT_TRUE(simple_lines == clock_lines(lossy));
  EXPECT_EQ(delivered.size(), 6u);
}
}  // namespace

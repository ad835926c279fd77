// The packet trace as the bit-level radio writes it: one record per frame a
// mote starts sending and one per frame a mote's radio finishes receiving,
// with the CRC verdict and whether other senders' frames overlapped.

#include "radio/radio_trace.hpp"

#include <gtest/gtest.h>
#include <unistd.h>

#include "radio/channel_mon_c.hpp"
#include "radio_fixture.hpp"
#include "support/pcap_records.hpp"
#include "trace/packet_trace.hpp"

namespace {
using support::TraceRecord;

constexpr vex_time_t kPacketTime = 200000;
constexpr uint8_t kSent = 0, kReceived = 1;
constexpr uint8_t kFailed = 0, kPassed = 1, kNotChecked = 2;
constexpr uint8_t kNoCollision = 0, kCollision = 1, kNotApplicable = 3;

class RadioTrace : public RadioTest {
 protected:
  void SetUp() override {
    RadioTest::SetUp();
    path_ = ::testing::TempDir() + "radio_trace_" + std::to_string(::getpid()) + ".pcap";
    std::string why;
    ASSERT_TRUE(packet_trace::open(path_, why)) << why;
  }
  void TearDown() override {
    packet_trace::close();
    std::remove(path_.c_str());
    RadioTest::TearDown();
  }
  // Closes the trace and reads it back.
  std::vector<TraceRecord> records() {
    packet_trace::close();
    std::optional<support::TraceFile> file = support::read_trace(path_);
    EXPECT_TRUE(file && file->whole);
    if (!file) return {};
    EXPECT_EQ(file->magic, support::PCAP_MAGIC_MICROSECONDS);
    EXPECT_EQ(file->link_type, support::LINKTYPE_USER0);
    return file->records;
  }
  static std::vector<TraceRecord> with_direction(const std::vector<TraceRecord>& all, uint8_t dir) {
    std::vector<TraceRecord> chosen;
    for (const TraceRecord& r : all) {
      if (r.direction == dir) chosen.push_back(r);
    }
    return chosen;
  }

  std::string path_;
};

// The bytes a frame of this record carries: header, data, one byte more, crc.
std::vector<uint8_t> frame_of(const VEX_Msg& msg) {
  const auto* bytes = reinterpret_cast<const uint8_t*>(&msg);
  std::vector<uint8_t> frame(bytes, bytes + LENGTH_BYTE_NUMBER + msg.length + 1);
  frame.push_back(static_cast<uint8_t>(msg.crc));
  frame.push_back(static_cast<uint8_t>(msg.crc >> 8));
  return frame;
}
}  // namespace

TEST_F(RadioTrace, LoneFrameIsTracedOnceSentAndOncePerReceiverWithTheSameBytes) {
  boot_simple(3);
  VEX_Msg msg = payload(0x31, 10);
  send_at(1000, 1, 2, 10, msg);
  run_until(kPacketTime);
  ASSERT_EQ(completed.size(), 1u);
  std::vector<TraceRecord> all = records();
  ASSERT_EQ(all.size(), 3u);

  // The sender's record comes first, stamped when the frame started; its
  // crc is the one the radio computed while sending (left in the record).
  const TraceRecord& sent = all[0];
  EXPECT_EQ(sent.direction, kSent);
  EXPECT_EQ(sent.mote, 1);
  EXPECT_EQ(sent.header_length, 8);
  EXPECT_EQ(sent.version, 1);
  EXPECT_EQ(sent.crc, kNotChecked);
  EXPECT_EQ(sent.collision, kNotApplicable);
  EXPECT_EQ(sent.frame, frame_of(msg));
  EXPECT_GT(sent.micros, 1000 / 4);

  // Both other motes received the same bytes, CRC passed, the only frame
  // on the air. A frame of 16 record bytes takes 12 + 3 * 18 byte periods
  // of 200 us; the receiver hands it up after its acknowledgement window.
  std::vector<TraceRecord> received = with_direction(all, kReceived);
  ASSERT_EQ(received.size(), 2u);
  EXPECT_EQ(received[0].mote + received[1].mote, 0 + 2);
  for (const TraceRecord& r : received) {
    EXPECT_EQ(r.frame, sent.frame);
    EXPECT_EQ(r.crc, kPassed);
    EXPECT_EQ(r.collision, kNoCollision);
    EXPECT_EQ(r.senders, 1);
    EXPECT_GT(r.micros - sent.micros, 66 * 200);
    EXPECT_LT(r.micros - sent.micros, 66 * 200 + 10 * 200);
  }
}

TEST_F(RadioTrace, OverlappingFramesAreACollisionAtTheReceiver) {
  boot_simple(3);
  VEX_Msg from_1 = payload(0x0F, 12), from_2 = payload(0x70, 12);
  send_at(10, 1, 0, 12, from_1);
  send_at(10, 2, 0, 12, from_2);
  // Both countdowns end at the same channel sample: neither hears the other.
  at(20, 2, [] { ChannelMonC::vars().CM_waiting = ChannelMonC::vars_of(1).CM_waiting; });
  run_until(kPacketTime);
  std::vector<TraceRecord> all = records();
  std::vector<TraceRecord> sent = with_direction(all, kSent);
  ASSERT_EQ(sent.size(), 2u);
  EXPECT_EQ(sent[0].micros, sent[1].micros);
  std::vector<TraceRecord> received = with_direction(all, kReceived);
  ASSERT_EQ(received.size(), 1u);
  EXPECT_EQ(received[0].mote, 0);
  EXPECT_EQ(received[0].crc, kFailed);
  EXPECT_EQ(received[0].collision, kCollision);
  EXPECT_EQ(received[0].senders, 2);
}

// One bit in a hundred flipped on the only link: the frame arrives damaged
// (the seed of the fixture decides which bits), and it was alone on the air.
TEST_F(RadioTrace, BitErrorsOnALoneLinkFailTheCrcWithoutACollision) {
  boot_lossy(2, "0:1:0.01\n1:0:0.0\n");
  VEX_Msg msg = payload(0x31, 60);
  send_at(1000, 0, 1, 60, msg);
  run_until(2 * kPacketTime);
  std::vector<TraceRecord> received = with_direction(records(), kReceived);
  ASSERT_EQ(received.size(), 1u);
  EXPECT_EQ(received[0].mote, 1);
  EXPECT_EQ(received[0].crc, kFailed);
  EXPECT_EQ(received[0].collision, kNoCollision);
  EXPECT_EQ(received[0].senders, 1);
}

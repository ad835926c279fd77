// Frames and records of the control ports, byte for byte, and the socket
// reads and writes under them.

#include <gtest/gtest.h>
#include <sys/socket.h>
#include <unistd.h>

#include <array>
#include <chrono>
#include <cstring>
#include <string>
#include <vector>

#include "control/wire/gui_msg.hpp"
#include "control/wire/records.hpp"
#include "control/client/control_client.hpp"
#include "control/wire/socket_io.hpp"

namespace {
using Bytes = std::vector<uint8_t>;
using std::chrono::milliseconds;

Bytes bytes_of(std::span<const uint8_t> span) { return Bytes(span.begin(), span.end()); }
}  // namespace

TEST(GuiMsg, HeaderIsBigEndianInFourteenBytes) {
  ctl::GuiMsg msg{0x1002, 0x0304, -2, 0x0070};
  ctl::HeaderBytes bytes = ctl::encode_header(msg);
  EXPECT_EQ(bytes_of(bytes), (Bytes{0x10, 0x02, 0x03, 0x04, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF,
                                    0xFF, 0xFE, 0x00, 0x70}));
  EXPECT_EQ(ctl::decode_header(bytes), msg);

  ctl::GuiMsg later{1, 2, 0x0102030405060708, 9};
  ctl::HeaderBytes later_bytes = ctl::encode_header(later);
  EXPECT_EQ(later_bytes[4], 0x01);
  EXPECT_EQ(later_bytes[11], 0x08);
  EXPECT_EQ(ctl::decode_header(later_bytes), later);
}

TEST(GuiMsg, FrameCarriesItsPayloadLength) {
  Bytes frame = ctl::build_frame(ctl::AM_INTERRUPTCOMMAND, 7, 4000000, Bytes{1, 2, 3, 4});
  ASSERT_EQ(frame.size(), 18u);
  ctl::GuiMsg header = ctl::decode_header(std::span<const uint8_t, 14>(frame.data(), 14));
  EXPECT_EQ(header, (ctl::GuiMsg{4102, 7, 4000000, 4}));
  EXPECT_EQ(Bytes(frame.begin() + 14, frame.end()), (Bytes{1, 2, 3, 4}));
  EXPECT_EQ(ctl::build_frame(ctl::AM_TURNONMOTECOMMAND, 0, 0, {}).size(), 14u);
}

TEST(GuiMsg, EveryTypeHasItsRecordSize) {
  const std::pair<uint16_t, std::size_t> sizes[] = {
      {1, 512},    {2, 112},  {4, 112},    {8, 4},      {16, 9},   {32, 4},     {64, 1},
      {4096, 0},   {4097, 0}, {4098, 112}, {4099, 112}, {4100, 8}, {4101, 4},   {4102, 4},
      {4103, 4},   {4104, 8}, {4105, 256}, {4106, 8},   {4107, 8}, {4108, 260}, {4109, 1},
      {4110, 128}, {4111, 2}, {4112, 0},   {4113, 0}};
  for (auto [type, size] : sizes) EXPECT_EQ(ctl::record_size(type), size) << type;
  EXPECT_FALSE(ctl::record_size(3).has_value());
  EXPECT_FALSE(ctl::record_size(4114).has_value());
  EXPECT_STREQ(ctl::type_name(ctl::AM_LEDEVENT), "AM_LEDEVENT");
}

TEST(Records, InitEventIsPackedWithoutPadding) {
  ctl::VarnixInitEvent init{10, 1, 2500};
  auto bytes = ctl::encode_init_event(init);
  EXPECT_EQ(bytes_of(bytes), (Bytes{10, 0, 0, 0, 1, 0xC4, 0x09, 0, 0}));
  ctl::VarnixInitEvent back = ctl::decode_init_event(bytes);
  EXPECT_EQ(back.numMotes, 10);
  EXPECT_EQ(back.radioModel, 1);
  EXPECT_EQ(back.rate, 2500u);
}

TEST(Records, FieldsAreLittleEndianAtTheirPaddedOffsets) {
  ctl::SetLinkProbCommand link{};
  link.moteReceiver = 0x0102;
  link.scaledProb = 5000;
  EXPECT_EQ(ctl::to_bytes(link), (Bytes{0x02, 0x01, 0, 0, 0x88, 0x13, 0, 0}));

  ctl::ADCDataReadyEvent adc{};
  adc.port = 3;
  adc.data = 0x0304;
  EXPECT_EQ(ctl::to_bytes(adc), (Bytes{3, 0, 0x04, 0x03}));

  ctl::VariableRequestCommand request{};
  request.addr = 0x11223344;
  request.length = 200;
  EXPECT_EQ(ctl::to_bytes(request), (Bytes{0x44, 0x33, 0x22, 0x11, 200, 0, 0, 0}));

  ctl::SetDBGCommand dbg{-1};
  EXPECT_EQ(ctl::to_bytes(dbg), Bytes(8, 0xFF));
}

TEST(Records, MoteCountBitmaskPutsMoteZeroInTheTopBit) {
  ctl::GetMoteCountResponse response{};
  ctl::set_mote_bit(response, 0);
  ctl::set_mote_bit(response, 9);
  ctl::set_mote_bit(response, 999);
  Bytes bytes = ctl::to_bytes(response);
  EXPECT_EQ(bytes[2], 0x80);
  EXPECT_EQ(bytes[3], 0x40);
  EXPECT_EQ(bytes[2 + 124], 0x01);
  EXPECT_TRUE(ctl::mote_bit(response, 9));
  EXPECT_FALSE(ctl::mote_bit(response, 8));
}

TEST(Records, ShortPayloadReadsAsZerosAndExtraBytesAreIgnored) {
  auto link = ctl::from_bytes<ctl::SetLinkProbCommand>(Bytes{0x05, 0x00, 0xAA});
  EXPECT_EQ(link.moteReceiver, 5);
  EXPECT_EQ(link.scaledProb, 0u);

  Bytes long_message(200, 0x5A);
  auto radio = ctl::from_bytes<ctl::RadioMsgSendCommand>(long_message);
  EXPECT_EQ(radio.message.receiveSecurityMode, 0x5A);  // the 112th byte

  auto mask = ctl::from_bytes<ctl::SetEventMaskCommand>(Bytes{});
  EXPECT_EQ(mask.mask, 0);

  VEX_Msg empty = ctl::make_message(3, 8, Bytes{});
  EXPECT_EQ(empty.addr, 3);
  EXPECT_EQ(empty.length, 0);
}

TEST(Records, ResolveNameMustEndInsideItsRecord) {
  bool terminated = false;
  Bytes name(256, 0);
  std::memcpy(name.data(), "TimerM$mState", 13);
  EXPECT_EQ(ctl::resolve_name(name, &terminated), "TimerM$mState");
  EXPECT_TRUE(terminated);

  Bytes unterminated(256, 'A');
  EXPECT_EQ(ctl::resolve_name(unterminated, &terminated), "");
  EXPECT_FALSE(terminated);

  // A shorter payload reads as if zero-filled: its name ends.
  Bytes short_name{'a', 'b'};
  EXPECT_EQ(ctl::resolve_name(short_name, &terminated), "ab");
  EXPECT_TRUE(terminated);

  // Bytes past the record never count, even without a NUL inside it.
  Bytes longer(300, 'B');
  EXPECT_EQ(ctl::resolve_name(longer, &terminated), "");
  EXPECT_FALSE(terminated);
}

TEST(Records, DebugTextEndsAtItsNul) {
  Bytes line(512, 0);
  std::memcpy(line.data(), "0: hello\n", 9);
  line[20] = 'x';
  EXPECT_EQ(ctl::debug_text(line), "0: hello\n");
  EXPECT_EQ(ctl::debug_text(Bytes(4, 'z')), "zzzz");
}

class SocketIo : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_EQ(::socketpair(AF_UNIX, SOCK_STREAM, 0, fds_), 0); }
  void TearDown() override {
    for (int fd : fds_) {
      if (fd >= 0) ::close(fd);
    }
  }
  void close_peer() {
    ::close(fds_[1]);
    fds_[1] = -1;
  }
  int fds_[2] = {-1, -1};
};

TEST_F(SocketIo, ReadWaitsForTheWholeBufferUntilTheDeadline) {
  uint8_t out[4] = {};
  ASSERT_EQ(::write(fds_[1], "ab", 2), 2);
  std::size_t done = 0;
  EXPECT_EQ(ctl::read_exact(fds_[0], out, ctl::deadline_after(milliseconds(30)), -1, &done),
            ctl::IoStatus::timeout);
  EXPECT_EQ(done, 2u);
  ASSERT_EQ(::write(fds_[1], "cdef", 4), 4);
  EXPECT_EQ(ctl::read_exact(fds_[0], out, ctl::deadline_after(milliseconds(1000))),
            ctl::IoStatus::ok);
  EXPECT_EQ(std::string(reinterpret_cast<char*>(out), 4), "cdef");
}

TEST_F(SocketIo, PeerGoingAwayIsClosedNotAnError) {
  uint8_t out[2] = {};
  close_peer();
  EXPECT_EQ(ctl::read_exact(fds_[0], out, ctl::no_deadline()), ctl::IoStatus::closed);
  // No SIGPIPE: the write reports the closed peer.
  const uint8_t data[3] = {1, 2, 3};
  EXPECT_EQ(ctl::write_all(fds_[0], data, ctl::no_deadline()), ctl::IoStatus::closed);
}

TEST_F(SocketIo, StopDescriptorEndsAWait) {
  int stop[2];
  ASSERT_EQ(::pipe(stop), 0);
  ASSERT_EQ(::write(stop[1], "x", 1), 1);
  uint8_t out[1];
  EXPECT_EQ(ctl::read_exact(fds_[0], out, ctl::no_deadline(), stop[0]), ctl::IoStatus::stopped);
  ::close(stop[0]);
  ::close(stop[1]);
}

TEST_F(SocketIo, WriteToAPeerThatNeverReadsTimesOut) {
  Bytes big(8 << 20, 0);
  EXPECT_EQ(ctl::write_all(fds_[0], big, ctl::deadline_after(milliseconds(50))),
            ctl::IoStatus::timeout);
}

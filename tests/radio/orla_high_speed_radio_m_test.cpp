// Packets over the bit-level radio, between motes running the whole
// component graph: from the active-message layer of one mote, bit by bit
// through the connectivity model, to the active-message layer of another.

#include "radio/orla_high_speed_radio_m.hpp"

#include <gtest/gtest.h>

#include "devices/power_state_m.hpp"
#include "kernel/mote_lifecycle.hpp"
#include "radio/channel_mon_c.hpp"
#include "radio/connectivity.hpp"
#include "radio_fixture.hpp"

namespace {
using RadioPacket = RadioTest;

constexpr vex_time_t kPacketTime = 200000;  // enough for a short packet and its acknowledgement

// Code bytes a record of `length` data bytes takes on the air: its header,
// data and one more byte, then the crc field, three code bytes each.
int body_bytes(int length) { return 3 * (length + 6 + 2); }

bool same_frame_bytes(const VEX_Msg& a, const VEX_Msg& b) {
  return std::memcmp(&a, &b, LENGTH_BYTE_NUMBER + a.length + 1) == 0;
}
}  // namespace

TEST_F(RadioPacket, TravelsBitByBitIsCheckedAcknowledgedAndDispatched) {
  boot_simple(3);
  VEX_Msg msg = payload(0x31, 10);
  send_at(10, 1, 2, 10, msg);
  std::string out = output_of(DBG_RADIO, [] { run_until(kPacketTime); });

  // The sender clocks out the start symbol, the body and two strength-pulse
  // bytes (its last pulse byte and the acknowledgement window are spent
  // listening), then listens for four byte periods after a half-bit shift.
  const int sent_bytes = 12 + body_bytes(10) + 2;
  EXPECT_EQ(count_of(out, "RFM: Mote 1 sent bit"), 8 * sent_bytes);
  EXPECT_EQ(count_of(out, "RADIO: Spi Byte event handled for mote 1 "), 8 * sent_bytes + 32);
  // The receiver reads the body and one pulse byte, then answers for five
  // byte periods.
  EXPECT_EQ(count_of(out, "RADIO: Spi Byte event handled for mote 2 "), 8 * (body_bytes(10) + 6));
  EXPECT_EQ(count_of(out, "RFM: Mote 2 sent bit"), 8 * 5);
  EXPECT_EQ(count_of(out, "RFM: Mote 0 sent bit 1"), 0);  // not addressed: no acknowledgement
  EXPECT_EQ(count_of(out, "RADIO: Spi Byte event ending for mote 1 "), 1);

  ASSERT_EQ(completed.size(), 1u);
  EXPECT_EQ(completed[0].mote, 1);
  EXPECT_EQ(completed[0].msg, &msg);
  EXPECT_EQ(completed[0].success, SUCCESS);
  EXPECT_EQ(completed[0].ack, 1);
  EXPECT_EQ(AMPromiscuous::vars_of(1).state, false);

  bool reached_mote_2 = false;
  for (const Delivery& d : delivered) {
    if (d.mote != 2) continue;
    reached_mote_2 = true;
    EXPECT_TRUE(same_frame_bytes(d.msg, msg));
    EXPECT_EQ(d.msg.crc, 1);
    EXPECT_EQ(d.msg.addr, 2);
    EXPECT_EQ(d.msg.type, kTestType);
  }
  EXPECT_TRUE(reached_mote_2);
  // Both radios are back to watching the channel.
  for (int m : {1, 2}) {
    EXPECT_EQ(OrlaHighSpeedRadioM::vars_of(m).state, OrlaHighSpeedRadioM::IDLE_STATE);
    EXPECT_EQ(ChannelMonC::vars_of(m).CM_state, ChannelMonC::IDLE_STATE);
  }
}

TEST_F(RadioPacket, CrcIsCheckedOnBothSidesAndOnlyTheAddresseeAcknowledges) {
  boot_simple(3);
  VEX_Msg msg = payload(0x02, 20);
  send_at(10, 1, 7, 20, msg);  // to a mote that does not exist
  std::string out = output_of(DBG_CRC, [] { run_until(kPacketTime); });

  char sent_crc[80];
  std::snprintf(sent_crc, sizeof sent_crc,
                "1: OrlaHighSpeedRadioM: Send CRC calculated to be 0x%hx.\n", msg.crc);
  EXPECT_EQ(count_of(out, sent_crc), 1);
  EXPECT_EQ(count_of(out, "0: OrlaHighSpeedRadioM: Passed CRC."), 1);
  EXPECT_EQ(count_of(out, "2: OrlaHighSpeedRadioM: Passed CRC."), 1);
  EXPECT_EQ(count_of(out, "2: CrcFilter: Packet passed CRC, signaling.\n"), 1);
  ASSERT_EQ(completed.size(), 1u);
  EXPECT_EQ(completed[0].ack, 0);
  EXPECT_EQ(completed[0].success, SUCCESS);
}

namespace {
std::vector<std::pair<uint16_t, VEX_Msg>> client_events;  // (mote, record) of radio-sent events

void record_client_event(uint16_t mote, uint16_t type, vex_time_t, const void* payload,
                         std::size_t length) {
  if (type != OrlaHighSpeedRadioM::AM_RADIOMSGSENTEVENT || length != sizeof(VEX_Msg)) return;
  VEX_Msg msg;
  std::memcpy(&msg, payload, sizeof msg);
  client_events.emplace_back(mote, msg);
}
}  // namespace

TEST_F(RadioPacket, BroadcastIsAcknowledgedAcceptedAndReportedToClients) {
  client_events.clear();
  set_client_event_sink(record_client_event);
  boot_simple(3);
  VEX_Msg msg = payload(0x40, 5);
  send_at(10, 0, VEX_BCAST_ADDR, 5, msg);
  run_until(kPacketTime);
  ASSERT_EQ(completed.size(), 1u);
  EXPECT_EQ(completed[0].ack, 1);
  ASSERT_EQ(client_events.size(), 1u);
  EXPECT_EQ(client_events[0].first, 0);
  EXPECT_EQ(client_events[0].second.crc, 1);
  EXPECT_TRUE(same_frame_bytes(client_events[0].second, msg));
  std::vector<int> receivers;
  for (const Delivery& d : delivered) {
    receivers.push_back(d.mote);
    EXPECT_TRUE(same_frame_bytes(d.msg, msg));
  }
  EXPECT_EQ(receivers, (std::vector<int>{1, 2}));
}

TEST_F(RadioPacket, FullLengthPacketArrivesWhole) {
  boot_simple(2);
  VEX_Msg msg = payload(0x80, DATA_LENGTH);
  // The active-message layer refuses the full length; the radio itself takes it.
  msg.addr = 1;
  msg.type = kTestType;
  msg.group = VEX_AM_GROUP;
  msg.length = DATA_LENGTH;
  at(10, 0, [&] { EXPECT_EQ(OrlaHighSpeedRadioM::Send_send(&msg), SUCCESS); });
  run_until(2 * kPacketTime);
  ASSERT_EQ(delivered.size(), 1u);
  EXPECT_EQ(std::memcmp(&delivered[0].msg, &msg, offsetof(VEX_Msg, crc)), 0);
  EXPECT_EQ(delivered[0].msg.crc, 1);
}

// Without the bound, a length above 96 would keep the sender's frame from
// ever reaching the crc field: it would transmit for good.
TEST_F(RadioPacket, RecordClaimingMoreThan96BytesIsSentAsAFullOne) {
  boot_simple(2);
  VEX_Msg msg = payload(0x05, DATA_LENGTH);
  msg.addr = 1;
  msg.type = kTestType;
  msg.group = VEX_AM_GROUP;
  msg.length = 200;
  at(10, 0, [&] { EXPECT_EQ(OrlaHighSpeedRadioM::Send_send(&msg), SUCCESS); });
  run_until(2 * kPacketTime);
  ASSERT_EQ(completed.size(), 1u);
  EXPECT_EQ(completed[0].ack, 1);
  ASSERT_EQ(delivered.size(), 1u);
  EXPECT_EQ(delivered[0].msg.length, 200);
  EXPECT_EQ(std::memcmp(&delivered[0].msg, &msg, offsetof(VEX_Msg, crc)), 0);
  // The receiver stayed within its record: its next receive record is intact.
  OrlaHighSpeedRadioM::Vars& receiver = OrlaHighSpeedRadioM::vars_of(1);
  EXPECT_EQ(receiver.rec_ptr, &receiver.buffer);
}

TEST_F(RadioPacket, TwoSendersInTheSameSampleIntervalCollide) {
  boot_simple(3);
  VEX_Msg from_1 = payload(0x0F, 12), from_2 = payload(0x70, 12);
  send_at(10, 1, 0, 12, from_1);
  send_at(10, 2, 0, 12, from_2);
  // Both countdowns end at the same channel sample: neither can hear the other.
  at(20, 2, [] { ChannelMonC::vars().CM_waiting = ChannelMonC::vars_of(1).CM_waiting; });
  std::string out = output_of(DBG_CRC, [] { run_until(kPacketTime); });
  EXPECT_EQ(count_of(out, "0: OrlaHighSpeedRadioM: Failed CRC."), 1);
  EXPECT_EQ(count_of(out, "0: CrcFilter: Packet failed CRC.\n"), 1);
  EXPECT_TRUE(delivered.empty());
  ASSERT_EQ(completed.size(), 2u);
  for (const Completion& c : completed) {
    EXPECT_EQ(c.success, SUCCESS);
    EXPECT_EQ(c.ack, 0);
  }
  EXPECT_EQ(completed[0].msg == &from_1 ? completed[1].msg : completed[0].msg, &from_2);
}

TEST_F(RadioPacket, SenderHearingABusyChannelWaitsForItsEnd) {
  boot_simple(3);
  VEX_Msg first = payload(0x21, 30), second = payload(0x52, 30);
  send_at(10, 1, 0, 30, first);
  // Mote 2 asks while mote 1's frame is on the air, and gets through after it.
  send_at(40000, 2, 0, 30, second);
  run_until(4 * kPacketTime);
  std::vector<VEX_Msg> at_mote_0;
  for (const Delivery& d : delivered) {
    if (d.mote == 0) at_mote_0.push_back(d.msg);
  }
  ASSERT_EQ(at_mote_0.size(), 2u);
  EXPECT_TRUE(same_frame_bytes(at_mote_0[0], first));
  EXPECT_TRUE(same_frame_bytes(at_mote_0[1], second));
  ASSERT_EQ(completed.size(), 2u);
  EXPECT_EQ(completed[0].msg, &first);
  EXPECT_EQ(completed[1].msg, &second);
  EXPECT_EQ(completed[0].ack, 1);
  EXPECT_EQ(completed[1].ack, 1);
}

TEST_F(RadioPacket, LossyLinkOfProbabilityOneDeliversNothing) {
  boot_lossy(3, "0:1:1.0\n0:2:0.0\n1:0:0.0\n2:0:0.0\n");
  EXPECT_FALSE(rfm->connected(0, 1));
  EXPECT_TRUE(rfm->connected(0, 2));
  VEX_Msg msg = payload(0x33, 8);
  send_at(10, 0, VEX_BCAST_ADDR, 8, msg);
  run_until(kPacketTime);
  ASSERT_EQ(delivered.size(), 1u);  // only over the perfect link
  EXPECT_EQ(delivered[0].mote, 2);
  ASSERT_EQ(completed.size(), 1u);
  EXPECT_EQ(completed[0].ack, 1);
}

// A switched-off mote's bit clock takes its last bit off the air, or the
// channel would stay busy for every other mote for good.
TEST_F(RadioPacket, SwitchingTheSenderOffMidFrameFreesTheChannel) {
  boot_simple(2);
  VEX_Msg cut = payload(0x7E, 40), next = payload(0x12, 4);
  send_at(10, 1, 0, 40, cut);
  bool stopped_while_sending = false;
  // Stop mote 1 at its first byte boundary inside the frame body.
  std::function<void()> watch = [&] {
    if (OrlaHighSpeedRadioM::vars_of(1).state == OrlaHighSpeedRadioM::TRANSMITTING) {
      stopped_while_sending = true;
      brelo_stop_mote(1);
      return;
    }
    at(vex_state.vex_time + 100, 0, watch);
  };
  at(100, 0, watch);
  send_at(60000, 0, 1, 4, next);
  run_until(2 * kPacketTime);
  ASSERT_TRUE(stopped_while_sending);
  EXPECT_EQ(transmitting[1], 0);
  EXPECT_EQ(ones_arriving_at(0), 0);
  ASSERT_EQ(completed.size(), 1u);  // mote 0 found a quiet channel and sent
  EXPECT_EQ(completed[0].msg, &next);
  EXPECT_EQ(completed[0].ack, 0);  // nobody is on to acknowledge
}

TEST_F(RadioPacket, SecondSendWhileWaitingForTheChannelFails) {
  boot_simple(2);
  VEX_Msg a{}, b{};
  at(10, 0, [&] {
    EXPECT_EQ(OrlaHighSpeedRadioM::Send_send(&a), SUCCESS);
    EXPECT_EQ(OrlaHighSpeedRadioM::Send_send(&b), FAIL);
  });
  run_until(kPacketTime);
  // The refused record was never touched.
  EXPECT_EQ(b.crc, 0);
  EXPECT_EQ(b.time, 0);
}

TEST_F(RadioPacket, PowerProfilingFollowsTheRadioThroughAnExchange) {
  PowerStateM::reset_for_tests();
  PowerStateM::PowerState_init(true, false);
  VEX_Msg msg = payload(0x66, 2);
  std::string out = output_of(DBG_POWER, [&] {
    boot_simple(2);
    send_at(10, 0, 1, 2, msg);
    run_until(kPacketTime);
  });
  PowerStateM::reset_for_tests();
  auto states_of = [&](const std::string& mote) {
    std::string states;
    for (std::size_t at = out.find("POWER: Mote " + mote + " RADIO_STATE ");
         at != std::string::npos; at = out.find("POWER: Mote " + mote + " RADIO_STATE ", at + 1)) {
      std::size_t begin = out.find("STATE ", at) + 6;
      states += out.substr(begin, out.find(' ', begin) - begin) + " ";
    }
    return states;
  };
  // Both the query engine and the channel layer start the active-message
  // layer, so the radio is switched on twice. The sender then transmits and
  // listens through the acknowledgement window; the receiver reads, answers
  // for five byte periods, and goes back to listening.
  EXPECT_EQ(states_of("0"), "ON ON TX RX RX RX RX RX RX ");
  EXPECT_EQ(states_of("1"), "ON ON RX TX TX TX TX TX RX ");
}

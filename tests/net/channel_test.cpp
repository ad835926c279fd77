#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "air_fixture.hpp"
#include "kernel/timer_m.hpp"
#include "net/net_to_ssm.hpp"

namespace {
struct Connected {
  int mote;
  channel_type channel_id;
  MsgSS msg;
  result_t success;
};
struct Arrived {
  int mote;
  channel_type channel_id;
  MsgSS msg;
};
std::vector<Connected> connected;
std::vector<Arrived> arrived;

result_t record_connect(channel_type channel_id, MsgSSPtr msg, result_t success) {
  connected.push_back({vex_state.current_node, channel_id, *msg, success});
  return SUCCESS;
}
MsgSSPtr record_receive(channel_type channel_id, MsgSSPtr m) {
  arrived.push_back({vex_state.current_node, channel_id, *m});
  return m;
}

// Motes whose application is the channel layer alone, with a recording user.
class Channel : public AirTest {
 protected:
  void SetUp() override {
    AirTest::SetUp();
    connected.clear();
    arrived.clear();
    AMPromiscuous::set_receive_handler(AM_NETMSG, NetToSSM::ReceiveMsg_receive);
    AMPromiscuous::set_send_done_handler(AM_NETMSG, NetToSSM::SendMsg_sendDone);
    NetToSSM::set_user({record_connect, record_receive});
    TimerM::set_fired_handler(TIMER_ACTIVITY, AMPromiscuous::ActivityTimer_fired);
    set_app_entry_points({NetToSSM::StdControl_init, NetToSSM::StdControl_start,
                          NetToSSM::StdControl_stop});
    boot({1, 2, 3, 5});
  }
  void TearDown() override {
    AMPromiscuous::set_receive_handler(AM_NETMSG, nullptr);
    AMPromiscuous::set_send_done_handler(AM_NETMSG, nullptr);
    NetToSSM::set_user({});
    TimerM::set_fired_handler(TIMER_ACTIVITY, nullptr);
    AirTest::TearDown();
  }

  static MsgSS stream_msg(uint8_t type, uint8_t name) {
    MsgSS m{};
    m.msg_type = type;
    m.symbolic_name = name;
    m.src = VEX_LOCAL_ADDRESS;
    return m;
  }
  static result_t connect(uint16_t from, uint16_t to, uint8_t name = 7) {
    as_mote(from);
    MsgSS m = stream_msg(OPEN_SS, name);
    result_t r = NetToSSM::NetToSS_connect(250, 0x0000000500000009LL, sizeof m, to, &m);
    drain();
    return r;
  }
  static result_t send(uint16_t from, channel_type channel, int8_t byte) {
    as_mote(from);
    MsgSS m = stream_msg(WRITE_SS, 7);
    m.data_size = 1;
    m.data[0] = byte;
    result_t r = NetToSSM::NetToSS_send(channel, &m);
    drain();
    return r;
  }
  static result_t disconnect(uint16_t from, channel_type channel) {
    as_mote(from);
    MsgSS m = stream_msg(CLOSE_SS, 7);
    result_t r = NetToSSM::NetToSS_disconnect(channel, &m);
    drain();
    return r;
  }
  static int channels_of(int mote) {
    int n = 0;
    for (const auto& e : NetToSSM::vars_of(mote).channel_table) n += e.validity;
    return n;
  }
  template <typename T>
  static T field(const VEX_Msg& packet, int offset) {
    T value;
    std::memcpy(&value, packet.data + offset, sizeof value);
    return value;
  }
};
}  // namespace

TEST_F(Channel, StartTurnsOnPromiscuousModeAndCrcChecking) {
  for (int m : {1, 2}) {
    EXPECT_TRUE(AMPromiscuous::vars_of(m).promiscuous_mode);
    EXPECT_TRUE(AMPromiscuous::vars_of(m).crc_check);
    EXPECT_EQ(NetToSSM::vars_of(m).pbuffer, &NetToSSM::vars_of(m).global_buffer);
  }
}

TEST_F(Channel, TheOpenGoesOnTheAirLaidOutAsOn32BitMachines) {
  ASSERT_EQ(connect(3, 2), SUCCESS);
  ASSERT_EQ(sent.size(), 1u);
  const VEX_Msg& p = sent[0].second;
  EXPECT_EQ(p.type, AM_NETMSG);
  EXPECT_EQ(p.addr, 2);
  EXPECT_EQ(p.length, 84);
  EXPECT_EQ(field<uint8_t>(p, 0), OPEN);
  EXPECT_EQ(field<uint16_t>(p, 2), 3);
  EXPECT_EQ(field<uint16_t>(p, 4), 2);
  EXPECT_EQ(field<int32_t>(p, 8), 768);
  EXPECT_EQ(field<uint32_t>(p, 12), 250u);
  EXPECT_EQ(field<uint32_t>(p, 16), 5u);  // start time, high word first
  EXPECT_EQ(field<uint32_t>(p, 20), 9u);
  EXPECT_EQ(field<uint8_t>(p, 24), 44);
  // The stream message follows at 25: its type, source and name.
  EXPECT_EQ(field<uint8_t>(p, 25 + 0), OPEN_SS);
  EXPECT_EQ(field<uint16_t>(p, 25 + 2), 3);
  EXPECT_EQ(field<uint8_t>(p, 25 + 4), 7);
  for (int i = 25 + 44; i < 84; ++i) EXPECT_EQ(p.data[i], 0) << "byte " << i;
}

TEST_F(Channel, OpenReachesTheDestinationAndCompletesAtTheSource) {
  ASSERT_EQ(connect(3, 2), SUCCESS);
  // A second OPEN while the first is outstanding waits for it, then follows.
  ASSERT_EQ(connect(3, 5, 8), SUCCESS);
  EXPECT_EQ(sent.size(), 1u);
  settle();
  ASSERT_EQ(arrived.size(), 2u);
  EXPECT_EQ(arrived[0].mote, 2);  // motes 1 and 5 heard it too, and dropped it
  EXPECT_EQ(arrived[0].channel_id, 768);
  EXPECT_EQ(arrived[0].msg.symbolic_name, 7);
  EXPECT_EQ(channels_of(1), 0);
  EXPECT_EQ(channels_of(5), 1);
  const auto& at_dest = NetToSSM::vars_of(2).channel_table[0];
  EXPECT_EQ(at_dest.channel_id, 768);
  EXPECT_EQ(at_dest.dest, 2);

  // Each open completes once, in the order they were made.
  ASSERT_EQ(connected.size(), 2u);
  EXPECT_EQ(connected[0].mote, 3);
  EXPECT_EQ(connected[0].channel_id, 768);
  EXPECT_EQ(connected[0].msg.symbolic_name, 7);
  EXPECT_EQ(connected[0].success, SUCCESS);
  EXPECT_EQ(connected[1].channel_id, 769);
  EXPECT_EQ(connected[1].msg.symbolic_name, 8);
  EXPECT_EQ(arrived[1].mote, 5);
  EXPECT_EQ(arrived[1].channel_id, 769);
}

TEST_F(Channel, WritesAndClosesArriveOnlyOnOpenChannelsOfTheirDestination) {
  ASSERT_EQ(send(3, 768, 1), FAIL);  // not open at the source
  connect(3, 2);
  settle();
  ASSERT_EQ(send(3, 768, 1), SUCCESS);
  ASSERT_EQ(send(3, 768, 2), SUCCESS);  // waits for the first
  settle();
  ASSERT_EQ(arrived.size(), 3u);
  EXPECT_EQ(arrived[1].msg.data[0], 1);
  EXPECT_EQ(arrived[2].msg.data[0], 2);
  EXPECT_EQ(connected.size(), 1u);  // only the OPEN's completion is reported

  // A WRITE on a channel the destination never saw opened is dropped.
  as_mote(3);
  NetToSSM::vars().channel_table[1] = {769, 2, 1};
  send(3, 769, 3);
  settle();
  EXPECT_EQ(arrived.size(), 3u);

  ASSERT_EQ(disconnect(3, 768), SUCCESS);
  settle();
  ASSERT_EQ(arrived.size(), 4u);
  EXPECT_EQ(arrived[3].msg.msg_type, CLOSE_SS);
  EXPECT_EQ(channels_of(2), 0);
  // The same channel opened again at the source only: the WRITE is dropped.
  as_mote(3);
  NetToSSM::vars().channel_table[0] = {768, 2, 1};
  send(3, 768, 4);
  settle();
  EXPECT_EQ(arrived.size(), 4u);
}

TEST_F(Channel, AFailedOpenFreesItsChannel) {
  send_outcome = FAIL;
  connect(3, 2);
  EXPECT_EQ(channels_of(3), 1);
  settle();
  ASSERT_EQ(connected.size(), 1u);
  EXPECT_EQ(connected[0].success, FAIL);
  EXPECT_EQ(channels_of(3), 0);
  EXPECT_FALSE(NetToSSM::vars_of(3).send_pending);
}

TEST_F(Channel, MessagesWaitWhileAnotherLayerHoldsTheRadio) {
  connect(3, 2);
  settle();
  // Another layer's packet holds the active-message layer of mote 3.
  as_mote(3);
  AMPromiscuous::vars().state = true;
  ASSERT_EQ(connect(3, 5, 8), SUCCESS);
  ASSERT_EQ(disconnect(3, 768), SUCCESS);
  EXPECT_EQ(send(3, 768, 1), FAIL);  // closed: no more writes
  settle();
  EXPECT_EQ(arrived.size(), 1u);
  // The closed channel keeps its entry until its CLOSE leaves.
  EXPECT_EQ(NetToSSM::vars_of(3).channel_table[0].validity, NetToSSM::CHANNEL_CLOSING);

  as_mote(3);
  AMPromiscuous::vars().state = false;
  settle();
  settle();
  ASSERT_EQ(arrived.size(), 3u);
  EXPECT_EQ(arrived[1].mote, 5);
  EXPECT_EQ(arrived[1].channel_id, 769);
  EXPECT_EQ(arrived[2].mote, 2);
  EXPECT_EQ(arrived[2].msg.msg_type, CLOSE_SS);
  EXPECT_EQ(channels_of(2), 0);
  EXPECT_EQ(channels_of(3), 1);
  EXPECT_EQ(connected.size(), 2u);
}

TEST_F(Channel, ARepeatedOpenKeepsTheEntryItsChannelHolds) {
  connect(3, 2);
  settle();
  // Mote 3 forgets the channel (as after a reboot) and opens it again, many times.
  for (int i = 0; i < 6; ++i) {
    as_mote(3);
    NetToSSM::vars().channel_table[0].validity = 0;
    ASSERT_EQ(connect(3, 2), SUCCESS);
    settle();
  }
  EXPECT_EQ(channels_of(2), 1);
  EXPECT_EQ(arrived.size(), 7u);  // each is handed up; the stream system ignores repeats
  ASSERT_EQ(connect(5, 2, 9), SUCCESS);  // room is left for other sources
  settle();
  EXPECT_EQ(channels_of(2), 2);
  EXPECT_EQ(arrived.back().channel_id, 5 * 256);
}

TEST_F(Channel, FourChannelsPerMoteAtMost) {
  for (int i = 0; i < 4; ++i) {
    ASSERT_EQ(connect(3, 2, static_cast<uint8_t>(10 + i)), SUCCESS);
    settle();
  }
  EXPECT_EQ(channels_of(2), 4);
  EXPECT_EQ(connect(3, 2, 20), FAIL);
  ASSERT_EQ(connect(5, 2, 21), SUCCESS);  // a fifth OPEN at the destination
  settle();
  EXPECT_EQ(arrived.size(), 4u);
  EXPECT_EQ(channels_of(2), 4);
}

TEST_F(Channel, ReceptionHandsBackTheSpareRecord) {
  VEX_Msg packet{};
  packet.type = AM_NETMSG;
  packet.group = VEX_DEFAULT_AM_GROUP;
  packet.addr = 2;
  MsgNet m{};
  m.msg_type = OPEN;
  m.dest = 4;  // another mote's channel
  m.channel_id = 5 * 256;
  to_packet(m, packet);
  as_mote(2);
  EXPECT_EQ(BRELO_received_radio(&packet), &NetToSSM::vars().global_buffer);
  EXPECT_TRUE(arrived.empty());
  EXPECT_EQ(channels_of(2), 0);
}

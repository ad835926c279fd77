#include "radio/packet_sim.hpp"

#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "support/world_test.hpp"

namespace {
struct Received {
  int mote;
  vex_time_t time;
  VEX_Msg msg;
};
std::vector<Received> received;
std::vector<VEX_MsgPtr> finished;

VEX_MsgPtr on_receive(VEX_MsgPtr msg) {
  received.push_back({vex_state.current_node.load(), vex_state.vex_time.load(), *msg});
  return msg;
}
result_t on_send_done(VEX_MsgPtr msg, result_t) {
  finished.push_back(msg);
  return SUCCESS;
}

class PacketSimTest : public WorldTest {
 protected:
  void SetUp() override {
    WorldTest::SetUp();
    std::srand(7);
    received.clear();
    finished.clear();
    packet_sim_init();
    PacketSim::set_upper_handlers({on_receive, on_send_done});
    vex_state.num_nodes = 3;
    for (int m = 0; m < 3; ++m) vex_state.moteOn[m] = true;
  }
  void TearDown() override {
    vex_state.queue.init(0);
    PacketSim::set_upper_handlers({});
    packet_sim_init();
    WorldTest::TearDown();
  }

  static VEX_Msg packet(uint8_t first) {
    VEX_Msg msg{};
    msg.addr = 1;
    msg.length = 20;
    for (int i = 0; i < 20; ++i) msg.data[i] = static_cast<int8_t>(first + i);
    return msg;
  }
  // Puts `msg` on the air from `mote` at `time`, skipping the backoff.
  static void transmit_at(int mote, vex_time_t time, VEX_Msg& msg) {
    packet_transmitting[mote] = &msg;
    vex_state.queue.insert_event(event_start_transmit_create(mote, time));
  }
  static std::string run_all() {
    dbg_set(DBG_PACKET);
    testing::internal::CaptureStdout();
    while (vex_state.queue.handle_next_event(vex_state)) {
    }
    std::fflush(stdout);
    dbg_set(DBG_NONE);
    return testing::internal::GetCapturedStdout();
  }
  static bool same_header_and_data(const VEX_Msg& a, const VEX_Msg& b) {
    return std::memcmp(&a, &b, 103) == 0;
  }
};

TEST_F(PacketSimTest, StartUpLeavesOnlyTheLinksZeroToOneAndTwoToOne) {
  VEX_Msg stray = packet(1);
  packet_transmitting[5] = &stray;
  packet_connectivity[7].push_back(3);
  packet_sim_init();
  for (int m = 0; m < VEXNODES; ++m) {
    EXPECT_EQ(packet_transmitting[m], nullptr);
    EXPECT_EQ(incoming[m], nullptr);
    if (m == 0 || m == 2) {
      EXPECT_EQ(packet_connectivity[m], std::vector<int32_t>{1}) << m;
    } else {
      EXPECT_TRUE(packet_connectivity[m].empty()) << m;
    }
  }
}

TEST_F(PacketSimTest, LonePacketArrivesIntactAfterItsAirTimeAndCompletes) {
  VEX_Msg msg = packet(10);
  transmit_at(0, 1000, msg);
  std::string out = run_all();
  vex_time_t air = (20 + 20 + 7) * 1664;
  EXPECT_EQ(packet_air_time(20), air);
  ASSERT_EQ(received.size(), 1u);
  EXPECT_EQ(received[0].mote, 1);
  EXPECT_EQ(received[0].time, 1000 + air);
  EXPECT_TRUE(same_header_and_data(received[0].msg, msg));
  EXPECT_EQ(finished, std::vector<VEX_MsgPtr>{&msg});
  EXPECT_EQ(packet_transmitting[0], nullptr);
  EXPECT_EQ(incoming[1], nullptr);
  EXPECT_NE(out.find("SIM_PACKET: Transmitting, transmit time is 78208.\n"), std::string::npos);
  EXPECT_NE(out.find("SIM_PACKET: Mote 0 sending to mote 1\n"), std::string::npos);
  EXPECT_NE(out.find("SIM_PACKET: Receiving\n"), std::string::npos);
  EXPECT_NE(out.find("VarnixPacketOrla2M: Send done.\n"), std::string::npos);
  EXPECT_EQ(out.find("Corrupting"), std::string::npos);
}

TEST_F(PacketSimTest, OverlappingPacketsBothArriveCorrupted) {
  VEX_Msg first = packet(10);
  VEX_Msg second = packet(60);
  transmit_at(0, 1000, first);
  transmit_at(2, 5000, second);  // starts while the first is still arriving
  std::string out = run_all();
  ASSERT_EQ(received.size(), 2u);
  EXPECT_FALSE(same_header_and_data(received[0].msg, first));
  EXPECT_FALSE(same_header_and_data(received[1].msg, second));
  EXPECT_EQ(finished.size(), 2u);
  EXPECT_NE(out.find("SIM_PACKET: Corrupting message from 2 to 1\n"), std::string::npos);
}

TEST_F(PacketSimTest, TransmittingReceiverGetsNothing) {
  VEX_Msg own = packet(1);
  packet_transmitting[1] = &own;  // mote 1 is sending (no links of its own)
  VEX_Msg msg = packet(10);
  transmit_at(0, 1000, msg);
  std::string out = run_all();
  EXPECT_TRUE(received.empty());
  EXPECT_NE(out.find("SIM_PACKET: Mote 0 would send to mote 1, but it is transmitting.\n"),
            std::string::npos);
  EXPECT_EQ(finished, std::vector<VEX_MsgPtr>{&msg});
}

TEST_F(PacketSimTest, SendBacksOffWhilePacketsArriveThenGoesOut) {
  VEX_Msg arriving = packet(1);
  VEX_Msg msg = packet(10);
  transmit_at(2, 0, arriving);
  packet_connectivity[1].push_back(0);  // mote 1 answers mote 0
  packet_connectivity[2] = {1};
  vex_state.vex_time = 100;
  vex_state.current_node = 1;
  // Mote 1 is about to hear mote 2; its send must wait for the channel.
  ASSERT_TRUE(vex_state.queue.handle_next_event(vex_state));  // mote 2 starts
  vex_state.current_node = 1;
  EXPECT_EQ(PacketSim::send(&msg), SUCCESS);
  EXPECT_EQ(PacketSim::send(&msg), FAIL);  // one packet at a time
  std::string out = run_all();
  EXPECT_NE(out.find("SIM_PACKET: Backoff more: "), std::string::npos);
  ASSERT_EQ(received.size(), 2u);
  EXPECT_EQ(received[0].mote, 1);
  EXPECT_EQ(received[1].mote, 0);
  EXPECT_TRUE(same_header_and_data(received[1].msg, msg));
  EXPECT_EQ(packet_transmitting[1], nullptr);
}

TEST_F(PacketSimTest, DroppedReceiveEventLeavesNoDanglingCopy) {
  VEX_Msg msg = packet(10);
  transmit_at(0, 1000, msg);
  ASSERT_TRUE(vex_state.queue.handle_next_event(vex_state));
  ASSERT_NE(incoming[1], nullptr);
  vex_state.moteOn[1] = false;  // its receive event is dropped unrun
  run_all();
  EXPECT_EQ(incoming[1], nullptr);
  EXPECT_TRUE(received.empty());
}
}  // namespace

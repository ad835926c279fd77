#include "net/uart_no_crc_packet_m.hpp"

#include <gtest/gtest.h>

#include "net/brelo_entry.hpp"
#include "net/crc_filter.hpp"
#include "net_fixture.hpp"

namespace {
using SerialPort = NetTest;
using PacketEntry = NetTest;
}  // namespace

TEST_F(SerialPort, SendReachesClientsNowAndCompletes1600TicksLater) {
  vex_state.vex_time = 5000;
  VEX_Msg msg{};
  msg.data[3] = 9;
  ASSERT_EQ(AMPromiscuous::SendMsg_send(AM_MSGUART, VEX_UART_ADDR, 20, &msg), SUCCESS);
  std::string out = output_of(DBG_UART, [] { VEXH_run_all_tasks(); });
  EXPECT_EQ(out, "2: Enqueueing uart_send_event at 0:0:0.00125000 for mote 2");
  ASSERT_EQ(events.size(), 1u);
  EXPECT_EQ(events[0].mote, kMote);
  EXPECT_EQ(events[0].type, AM_UARTMSGSENTEVENT);
  EXPECT_EQ(events[0].time, 5000);
  ASSERT_EQ(events[0].payload.size(), sizeof(VEX_Msg));
  EXPECT_EQ(msg.crc, 1);
  EXPECT_EQ(std::memcmp(events[0].payload.data(), &msg, sizeof msg), 0);

  run_until(5000 + UART_SEND_DELAY - 1);
  EXPECT_TRUE(completed.empty());
  out = output_of(DBG_UART, [] { run_until(5000 + UART_SEND_DELAY); });
  EXPECT_EQ(out, "2: UART: packet transfer complete.\n");
  ASSERT_EQ(completed.size(), 1u);
  EXPECT_EQ(completed[0], std::make_pair(&msg, SUCCESS));
  EXPECT_EQ(vex_state.vex_time, 5000 + UART_SEND_DELAY);
}

// A mote switched off and on again while its serial transfer was under way
// must not see that old transfer complete the send of its new life.
TEST_F(SerialPort, CompletionFromBeforeARestartIsDiscarded) {
  VEX_Msg msg{};
  ASSERT_EQ(AMPromiscuous::SendMsg_send(AM_MSGUART, VEX_UART_ADDR, 20, &msg), SUCCESS);
  VEXH_run_all_tasks();
  vex_state.vex_time = 100;
  brelo_stop_mote(kMote);
  brelo_start_mote(kMote);
  ASSERT_EQ(AMPromiscuous::SendMsg_send(AM_MSGUART, VEX_UART_ADDR, 20, &msg), SUCCESS);
  VEXH_run_all_tasks();

  run_until(UART_SEND_DELAY);
  EXPECT_TRUE(completed.empty());
  EXPECT_TRUE(AMPromiscuous::vars().state);
  run_until(100 + UART_SEND_DELAY);
  EXPECT_EQ(completed.size(), 1u);
  EXPECT_FALSE(AMPromiscuous::vars().state);
}

TEST_F(PacketEntry, SimulatorDeliveriesPassTheCrcAndSerialTakesTheGroup) {
  VEX_Msg radio = packet(kMote, AM_RADIOMSG, VEX_DEFAULT_AM_GROUP, 0);
  VEX_Msg other_group = packet(kMote, AM_RADIOMSG, 3, 0);
  EXPECT_EQ(BRELO_received_radio(&radio), &radio);
  EXPECT_EQ(BRELO_received_radio(&other_group), &other_group);
  EXPECT_EQ(other_group.crc, 1);
  EXPECT_EQ(received.size(), 1u);
  EXPECT_EQ(BRELO_received_uart(&other_group), &other_group);
  EXPECT_EQ(other_group.group, VEX_DEFAULT_AM_GROUP);
  EXPECT_EQ(received, (std::vector<VEX_MsgPtr>{&radio, &other_group}));
}

TEST_F(PacketEntry, CrcFilterDropsFailedPacketsBeforeTheyAreCounted) {
  VEX_Msg bad = packet(kMote, AM_NETMSG, VEX_DEFAULT_AM_GROUP, 0);
  VEX_Msg good = packet(kMote, AM_NETMSG);
  std::string out = output_of(DBG_CRC, [&] {
    EXPECT_EQ(CrcFilter::LowerReceive_receive(&bad), &bad);
    EXPECT_EQ(CrcFilter::LowerReceive_receive(&good), &good);
  });
  EXPECT_EQ(out, "2: CrcFilter: Packet failed CRC.\n2: CrcFilter: Packet passed CRC, signaling.\n");
  EXPECT_EQ(AMPromiscuous::vars().counter, 1);
  EXPECT_EQ(received, (std::vector<VEX_MsgPtr>{&good}));
}

#include "net/am_promiscuous.hpp"

#include <gtest/gtest.h>

#include "kernel/scheduler.hpp"
#include "net_fixture.hpp"
#include "radio/orla_high_speed_radio_m.hpp"

namespace {
using AMSend = NetTest;
using AMReceive = NetTest;
using AMControl = NetTest;
using AMPromiscuous::vars;

void nothing() {}

std::string packet_print(const VEX_Msg& msg) {
  std::string text;
  auto bytes = reinterpret_cast<const unsigned char*>(&msg);
  char hex[4];
  for (std::size_t i = 0; i < sizeof msg; ++i) {
    std::snprintf(hex, sizeof hex, "%02x ", bytes[i]);
    text += hex;
  }
  return text + "2: \n";
}
}  // namespace

TEST_F(AMSend, FillsTheHeaderPrintsThePacketAndLength97IsRefused) {
  VEX_Msg msg{};
  VEX_AM_GROUP = 7;
  std::string out = output_of(DBG_AM, [&] {
    EXPECT_EQ(AMPromiscuous::SendMsg_send(AM_MSGUART, 126, 96, &msg), SUCCESS);
  });
  EXPECT_EQ(msg.addr, 126);
  EXPECT_EQ(msg.type, AM_MSGUART);
  EXPECT_EQ(msg.group, 7);
  EXPECT_EQ(msg.length, 96);
  EXPECT_EQ(out, packet_print(msg) + "2: Sending message: 7e, f\n\t");
  run_until(UART_SEND_DELAY);

  VEX_Msg long_msg{};
  out = output_of(DBG_AM, [&] {
    EXPECT_EQ(AMPromiscuous::SendMsg_send(AM_RADIOMSG, 5, 97, &long_msg), FAIL);
  });
  EXPECT_EQ(out, "2: AM: Send length too long: 97. Fail.\n");
  EXPECT_FALSE(vars().state);
  EXPECT_EQ(long_msg.length, 0);
  EXPECT_FALSE(VEXH_run_next_task());
}

TEST_F(AMSend, SerialAddressGoesToTheSerialPortOthersToTheRadio) {
  VEX_Msg to_host{}, to_mote{};
  ASSERT_EQ(AMPromiscuous::SendMsg_send(AM_MSGUART, VEX_UART_ADDR, 20, &to_host), SUCCESS);
  run_until(UART_SEND_DELAY);
  ASSERT_EQ(events.size(), 1u);
  EXPECT_EQ(events[0].type, AM_UARTMSGSENTEVENT);
  ASSERT_EQ(completed.size(), 1u);
  EXPECT_EQ(completed[0], std::make_pair(&to_host, SUCCESS));

  // The radio takes the packet and waits for a quiet channel; the send is
  // still outstanding.
  ASSERT_EQ(AMPromiscuous::SendMsg_send(AM_NETMSG, 3, 84, &to_mote), SUCCESS);
  VEXH_run_all_tasks();
  EXPECT_EQ(OrlaHighSpeedRadioM::vars().send_state, OrlaHighSpeedRadioM::SEND_WAITING);
  EXPECT_EQ(OrlaHighSpeedRadioM::vars().send_ptr, &to_mote);
  EXPECT_TRUE(vars().state);
  EXPECT_EQ(completed.size(), 1u);
}

TEST_F(AMSend, OneSendAtATimeAcrossAllTypes) {
  VEX_Msg first{}, second{};
  ASSERT_EQ(AMPromiscuous::SendMsg_send(AM_MSGUART, VEX_UART_ADDR, 1, &first), SUCCESS);
  std::string out = output_of(DBG_ALL, [&] {
    EXPECT_EQ(AMPromiscuous::SendMsg_send(AM_RADIOMSG, 4, 1, &second), FAIL);
  });
  EXPECT_EQ(out, "");
  EXPECT_EQ(AMPromiscuous::Control_stop(), FAIL);
  run_until(UART_SEND_DELAY);
  EXPECT_EQ(completed.size(), 1u);
  EXPECT_EQ(AMPromiscuous::SendMsg_send(AM_RADIOMSG, 4, 1, &second), SUCCESS);
}

TEST_F(AMSend, FullTaskRingRefusesTheSend) {
  for (int i = 0; i < VEXH_MAX_TASKS; ++i) ASSERT_EQ(VEX_post(nothing), SUCCESS);
  VEX_Msg msg{};
  std::string out = output_of(DBG_AM, [&] {
    EXPECT_EQ(AMPromiscuous::SendMsg_send(AM_RADIOMSG, 4, 1, &msg), FAIL);
  });
  EXPECT_EQ(out, "2: AM: post sendTask failed.\n");
  EXPECT_FALSE(vars().state);
}

TEST_F(AMReceive, FilterCountsEveryPacketAndAcceptsByGroupAddressAndCrc) {
  struct Case {
    VEX_Msg msg;
    bool promiscuous, crc_check, accepted;
  } cases[] = {
      {packet(kMote, AM_RADIOMSG), false, true, true},
      {packet(3, AM_RADIOMSG), false, true, false},
      {packet(3, AM_RADIOMSG), true, true, true},
      {packet(VEX_BCAST_ADDR, AM_RADIOMSG), false, true, true},
      {packet(kMote, AM_RADIOMSG, 99), true, true, false},
      {packet(kMote, AM_RADIOMSG, VEX_DEFAULT_AM_GROUP, 0), false, true, false},
      {packet(kMote, AM_RADIOMSG, VEX_DEFAULT_AM_GROUP, 0), false, false, true},
  };
  uint16_t count = 0;
  for (Case& c : cases) {
    received.clear();
    AMPromiscuous::CommControl_setPromiscuous(c.promiscuous);
    AMPromiscuous::CommControl_setCRCCheck(c.crc_check);
    EXPECT_EQ(AMPromiscuous::RadioReceive_receive(&c.msg), &c.msg);
    EXPECT_EQ(received.size(), c.accepted ? 1u : 0u) << "case " << count;
    EXPECT_EQ(vars().counter, ++count);
  }
}

TEST_F(AMReceive, DispatchesByTypeAndSwapsBuffers) {
  VEX_Msg msg = packet(kMote, AM_NETMSG), spare{};
  std::string out = output_of(DBG_AM, [&] {
    swap_in = &spare;
    EXPECT_EQ(AMPromiscuous::RadioReceive_receive(&msg), &spare);
  });
  EXPECT_EQ(out, "2: AM_address = 2, a; counter:1\n2: Received message:\n\t" + packet_print(msg) +
                     "2: AM_type = 10\n");
  swap_in = nullptr;
  EXPECT_EQ(AMPromiscuous::RadioReceive_receive(&msg), &msg);

  VEX_Msg unbound = packet(kMote, 42);
  unbound.data[0] = 17;
  VEX_Msg before = unbound;
  EXPECT_EQ(AMPromiscuous::RadioReceive_receive(&unbound), &unbound);
  EXPECT_EQ(std::memcmp(&unbound, &before, sizeof before), 0);
  EXPECT_EQ(received.size(), 2u);
}

TEST_F(AMControl, InitAndStartSetTheLayerUpInOrder) {
  EXPECT_TRUE(vars().crc_check);
  EXPECT_FALSE(vars().promiscuous_mode);
  EXPECT_TRUE(TimerM::vars().mState & (1u << TIMER_ACTIVITY));
  brelo_stop_mote(kMote);
  EXPECT_FALSE(TimerM::vars().mState & (1u << TIMER_ACTIVITY));
  vex_state.cancelBoot[kMote] = false;
  std::string out = output_of(DBG_BOOT, [] { brelo_start_mote(kMote); });
  EXPECT_EQ(out, "2: UART initialized.\n2: RANDOM_LFSR initialized.\n2: AM Module initialized\n"
                 "2: UART started.\n");
}

TEST_F(AMControl, ActivityTimerClosesTheCountingPeriod) {
  VEX_Msg msg = packet(3, AM_RADIOMSG);
  for (int i = 0; i < 3; ++i) AMPromiscuous::RadioReceive_receive(&msg);
  // 1000 counts of 3906 ticks, reached at the first clock interrupt after it.
  run_until(5 * TICKS_PER_SECOND / 4);
  EXPECT_EQ(vars().lastCount, 3);
  EXPECT_EQ(vars().counter, 0);
}

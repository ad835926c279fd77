#pragma once
// A booted mote running the active-message layer as its application, with
// recording users for the message types and a recording client-event sink.

#include <cstring>
#include <string>
#include <vector>

#include "support/output.hpp"
#include "support/run.hpp"
#include "support/world_test.hpp"
#include "kernel/timer_m.hpp"
#include "net/am_promiscuous.hpp"
#include "net/uart_no_crc_packet_m.hpp"

using support::output_of;

struct ClientEvent {
  uint16_t mote;
  uint16_t type;
  vex_time_t time;
  std::vector<unsigned char> payload;
};

class NetTest : public WorldTest {
 protected:
  static constexpr uint16_t kMote = 2;

  static inline std::vector<ClientEvent> events;
  static inline std::vector<VEX_MsgPtr> received;
  static inline std::vector<std::pair<VEX_MsgPtr, result_t>> completed;
  static inline VEX_MsgPtr swap_in = nullptr;  // what the receive user hands back

  static VEX_MsgPtr user_receive(VEX_MsgPtr msg) {
    received.push_back(msg);
    return swap_in;
  }
  static result_t user_send_done(VEX_MsgPtr msg, result_t success) {
    completed.emplace_back(msg, success);
    return SUCCESS;
  }
  static void sink(uint16_t mote, uint16_t type, vex_time_t time, const void* payload,
                   std::size_t length) {
    if (type == AM_DEBUGMSGEVENT) return;
    auto bytes = static_cast<const unsigned char*>(payload);
    events.push_back({mote, type, time, {bytes, bytes + length}});
  }

  void SetUp() override {
    WorldTest::SetUp();
    events.clear();
    received.clear();
    completed.clear();
    swap_in = nullptr;
    for (int type = 0; type < 256; ++type) {
      AMPromiscuous::set_receive_handler(static_cast<uint8_t>(type), nullptr);
      AMPromiscuous::set_send_done_handler(static_cast<uint8_t>(type), nullptr);
    }
    for (uint8_t type : {AM_OPERATORMSG, AM_RADIOMSG, AM_NETMSG}) {
      AMPromiscuous::set_receive_handler(type, user_receive);
    }
    for (uint8_t type : {AM_RADIOMSG, AM_NETMSG, AM_MSGUART}) {
      AMPromiscuous::set_send_done_handler(type, user_send_done);
    }
    TimerM::set_fired_handler(TIMER_ACTIVITY, AMPromiscuous::ActivityTimer_fired);
    set_client_event_sink(sink);
    vex_state.num_nodes = 4;
    set_app_entry_points(
        {AMPromiscuous::Control_init, AMPromiscuous::Control_start, AMPromiscuous::Control_stop});
    brelo_start_mote(kMote);
  }
  void TearDown() override {
    TimerM::set_fired_handler(TIMER_ACTIVITY, nullptr);
    WorldTest::TearDown();
  }

  static void run_until(vex_time_t until) { support::run_until(until); }

  static VEX_Msg packet(uint16_t addr, uint8_t type, uint8_t group = VEX_DEFAULT_AM_GROUP,
                        uint16_t crc = 1) {
    VEX_Msg msg{};
    msg.addr = addr;
    msg.type = type;
    msg.group = group;
    msg.crc = crc;
    return msg;
  }

};

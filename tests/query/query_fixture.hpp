#pragma once
// Motes running the whole wired component graph, with helpers to hand them
// operator messages, look at their streams, and catch what they send to the
// host's serial port.
//
// Two ways to run time: run_loop() runs the simulator's main loop (serial
// packets reach the host, radio packets go to the radio), while the AirTest
// helpers (drain, run_for, settle) carry radio packets through a stand-in
// for the air.

#include <gtest/gtest.h>

#include <cstring>
#include <initializer_list>
#include <string>
#include <vector>

#include "../net/air_fixture.hpp"
#include "app/wiring.hpp"
#include "devices/adc_model.hpp"
#include "kernel/clock.hpp"
#include "kernel/driver.hpp"
#include "kernel/pacing.hpp"
#include "net/brelo_entry.hpp"
#include "net/uart_no_crc_packet_m.hpp"
#include "operator_messages.hpp"
#include "query/pellund_m.hpp"
#include "radio/connectivity.hpp"
#include "radio/orla_high_speed_radio_m.hpp"
#include "streams/ss_to_app.hpp"
#include "support/output.hpp"
#include "support/run.hpp"

namespace query_test {
using namespace PellundM;
using support::output_of;

struct HostPacket {
  int mote;
  vex_time_t time;
  VEX_Msg msg;
};

class QueryTest : public AirTest {
 protected:
  static inline std::vector<HostPacket> to_host;   // serial packets the motes sent
  static inline std::vector<HostPacket> on_radio;  // packets the radio stacks sent

  static void sink(uint16_t mote, uint16_t type, vex_time_t time, const void* payload,
                   std::size_t length) {
    if (length != sizeof(VEX_Msg)) return;
    if (type != AM_UARTMSGSENTEVENT && type != OrlaHighSpeedRadioM::AM_RADIOMSGSENTEVENT) return;
    HostPacket p{mote, time, {}};
    std::memcpy(&p.msg, payload, sizeof p.msg);
    (type == AM_UARTMSGSENTEVENT ? to_host : on_radio).push_back(p);
  }

  void SetUp() override {
    AirTest::SetUp();
    to_host.clear();
    on_radio.clear();
    create_radio_model(VARNIX_RADIO_MODEL_SIMPLE, nullptr);
    radio_model_init();
    create_adc_model(false);
    adc_model_init();
    wire_components();
    set_client_event_sink(sink);
    support::unpaced();
  }

  // Runs the simulator's main loop for `ticks` of virtual time.
  static void run_loop(vex_time_t ticks) { support::run_loop_until(vex_state.vex_time + ticks); }

  static VEX_Msg packet(uint16_t addr, uint8_t type, const OperatorMsg& m) {
    VEX_Msg pkt{};
    pkt.addr = addr;
    pkt.type = type;
    pkt.group = VEX_AM_GROUP;
    pkt.length = OPERATOR_MSG_LENGTH;
    std::memcpy(pkt.data, &m, sizeof m);
    return pkt;
  }
  // Runs the decoder on `mote` as if the message had been addressed to it.
  static VEX_MsgPtr decode(uint16_t mote, const OperatorMsg& m) {
    as_mote(mote);
    static VEX_Msg pkt;
    pkt = packet(mote, AM_OPERATORMSG, m);
    return commandcode(&pkt);
  }
  static void decode_all(uint16_t mote, std::initializer_list<OperatorMsg> messages) {
    for (const OperatorMsg& m : messages) decode(mote, m);
  }
  // Hands the message to `mote`'s serial port, addressed to `addr`.
  static void serial_in(uint16_t mote, uint16_t addr, const OperatorMsg& m) {
    as_mote(mote);
    VEX_Msg pkt = packet(addr, AM_OPERATORMSG, m);
    BRELO_received_uart(&pkt);
  }

  // ---- Streams of a mote.
  static const open_table_entry& open_of(uint16_t mote, int i) {
    return vars_of(mote).open_table[i];
  }
  static const operator_table_entry& op_of(uint16_t mote, int i) {
    return vars_of(mote).operator_table[i];
  }
  static int8_t write_local(uint16_t mote, int8_t local_no, std::vector<int8_t> record) {
    as_mote(mote);
    return SSToAppM::SSToApp_write({LSDT_ID, local_no}, record.data(),
                                   static_cast<uint8_t>(record.size()));
  }
  // Every record stored in a local stream, oldest first.
  static std::vector<std::vector<int8_t>> stored(uint16_t mote, int local_no) {
    const LSDT_Entry& e = SSToAppM::vars_of(mote).local_table[local_no];
    std::vector<std::vector<int8_t>> out;
    if (e.validity == 0) return out;
    int slots = e.buffer_size + 1;
    for (int k = 0, slot = e.first; k < e.data_counter; ++k, slot = (slot + 1) % slots) {
      const int8_t* r = e.buffer[slot].get();
      out.emplace_back(r, r + e.buffer_elem_size[slot]);
    }
    return out;
  }
  // Outstanding reads the engine counts on a stream (0 without an entry).
  static int reads_counted(uint16_t mote, stream_type s) {
    for (const app_read_request& r : vars_of(mote).read_requested) {
      if (r.stream_desc.no != -1 && same_stream(r.stream_desc, s)) return r.num_reads;
    }
    return 0;
  }

};

}  // namespace query_test

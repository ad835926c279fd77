// From a command frame on the socket to its effect: acknowledgements,
// batches, replies, times, invalid motes, broken frames, and the command
// events that act on motes on the simulation thread.

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "control/command_event.hpp"
#include "control/command_processor.hpp"
#include "control/command_reader.hpp"
#include "control/event_clients.hpp"
#include "control/wire/records.hpp"
#include "control_fixture.hpp"
#include "kernel/pacing.hpp"

using namespace control_test;
using Bytes = std::vector<uint8_t>;

namespace {
class CommandReader : public ControlTest {
 protected:
  SocketPair pair;
  // Sends one frame and lets the command code read and answer it.
  bool command(uint16_t type, uint16_t mote, int64_t time, const Bytes& payload = {}) {
    pair.send_frame(type, mote, time, payload);
    return readVarnixCommand(pair.server, 0);
  }
  // The same for a command with a reply: the client's acknowledgement of
  // the reply follows the command.
  bool command_with_reply(uint16_t type, uint16_t mote, const Bytes& payload) {
    pair.send_frame(type, mote, 0, payload);
    pair.acknowledge();
    return readVarnixCommand(pair.server, 0);
  }
};

// The messages a mote was handed through the injection entry points.
struct Delivery {
  bool radio;
  VEX_Msg message;
  VEX_MsgPtr buffer;
};
std::vector<Delivery> deliveries;
VEX_Msg receiver_buffer{};  // what the receiver hands back after the first message

VEX_MsgPtr record(bool radio, VEX_MsgPtr msg) {
  deliveries.push_back({radio, *msg, msg});
  return deliveries.size() == 1 ? &receiver_buffer : msg;
}
VEX_MsgPtr radio_double(VEX_MsgPtr msg) { return record(true, msg); }
VEX_MsgPtr uart_double(VEX_MsgPtr msg) { return record(false, msg); }
}  // namespace

TEST_F(CommandReader, EachCommandIsAcknowledgedWithOneByte) {
  // A command without payload is complete after its header.
  ASSERT_TRUE(command(ctl::AM_TURNONMOTECOMMAND, 3, 0));
  EXPECT_EQ(pair.received().size(), 1u);
  EXPECT_EQ(vex_state.queue.size(), 1u);
  ASSERT_TRUE(command(ctl::AM_SETRATECOMMAND, 0, 0, ctl::to_bytes(ctl::SetRateCommand{2500})));
  EXPECT_EQ(pair.received().size(), 1u);
  EXPECT_EQ(get_sim_rate(), 2500);
}

TEST_F(CommandReader, CommandsNeverActInThePast) {
  vex_state.vex_time = 5000;
  ASSERT_TRUE(command(ctl::AM_TURNONMOTECOMMAND, 1, 100));
  EXPECT_EQ(vex_state.queue.peek_event_time(), 5000);
  vex_state.queue.init(0);
  ASSERT_TRUE(command(ctl::AM_TURNONMOTECOMMAND, 1, 5000 + 4000000));
  EXPECT_EQ(vex_state.queue.peek_event_time(), 4005000);
}

TEST_F(CommandReader, CommandForAnInvalidMoteIsAcknowledgedAndIgnored) {
  ASSERT_TRUE(command(ctl::AM_TURNONMOTECOMMAND, 10, 0));
  ASSERT_TRUE(command(ctl::AM_SETEVENTMASKCOMMAND, 65535, 0, Bytes{1, 0}));
  ASSERT_TRUE(command(ctl::AM_BEGINBATCHCOMMAND, 10, 0));              // opens no batch
  ASSERT_TRUE(command(ctl::AM_GETMOTECOUNTCOMMAND, 12, 0, Bytes{0}));  // and builds no reply
  EXPECT_EQ(pair.received().size(), 4u);
  EXPECT_TRUE(vex_state.queue.is_empty());
  EXPECT_EQ(eventMask, 0xFFFF);
  EXPECT_FALSE(batch_open(0));
}

TEST_F(CommandReader, BatchSilencesItsCommandsUntilItsEndIsAcknowledged) {
  ASSERT_TRUE(command(ctl::AM_BEGINBATCHCOMMAND, 0, 0));
  ASSERT_TRUE(command(ctl::AM_TURNONMOTECOMMAND, 2, 0));
  ASSERT_TRUE(command(ctl::AM_GETMOTECOUNTCOMMAND, 0, 0, Bytes{0}));
  ASSERT_TRUE(command(ctl::AM_SETEVENTMASKCOMMAND, 0, 0, Bytes{1, 0}));
  EXPECT_TRUE(pair.received().empty());
  // Commands in the batch still act.
  EXPECT_EQ(vex_state.queue.size(), 1u);
  EXPECT_EQ(eventMask, 1);
  ASSERT_TRUE(command(ctl::AM_ENDBATCHCOMMAND, 0, 0));
  EXPECT_EQ(pair.received().size(), 1u);
  EXPECT_FALSE(batch_open(0));
}

TEST_F(CommandReader, BatchesBelongToTheirClientSlot) {
  SocketPair other;
  ASSERT_TRUE(command(ctl::AM_BEGINBATCHCOMMAND, 0, 0));
  other.send_frame(ctl::AM_TURNOFFMOTECOMMAND, 1, 0);
  ASSERT_TRUE(readVarnixCommand(other.server, 1));
  EXPECT_EQ(other.received().size(), 1u);
  // A slot whose client went away starts its next client outside a batch.
  reset_batch(0);
  ASSERT_TRUE(command(ctl::AM_TURNOFFMOTECOMMAND, 1, 0));
  EXPECT_EQ(pair.received().size(), 1u);
}

TEST_F(CommandReader, MoteCountReplyFollowsTheAcknowledgement) {
  vex_state.vex_time = 777;
  ASSERT_TRUE(command_with_reply(ctl::AM_GETMOTECOUNTCOMMAND, 0, Bytes{0}));
  Bytes bytes = pair.received();
  ASSERT_EQ(bytes.size(), 1u + 14 + 128);
  std::vector<ReceivedFrame> frames = frames_in(Bytes(bytes.begin() + 1, bytes.end()));
  ASSERT_EQ(frames.size(), 1u);
  EXPECT_EQ(frames[0].header, (ctl::GuiMsg{ctl::AM_GETMOTECOUNTRESPONSE, 0xFFFF, 777, 128}));
  auto response = ctl::from_bytes<ctl::GetMoteCountResponse>(frames[0].payload);
  EXPECT_EQ(response.totalMotes, 10);
  EXPECT_EQ(Bytes(response.bitmask, response.bitmask + 125), Bytes(125, 0xFF));
}

TEST_F(CommandReader, ReplyNeverAcknowledgedEndsTheConnection) {
  pair.send_frame(ctl::AM_GETMOTECOUNTCOMMAND, 0, 0, Bytes{0});
  EXPECT_FALSE(readVarnixCommand(pair.server, 0));
}

TEST_F(CommandReader, UnknownAndUnterminatedNamesResolveToNothing) {
  Bytes unknown(256, 0);
  std::memcpy(unknown.data(), "NoSuchModule$nothing", 20);
  // A known name that runs on to the end of the record without a NUL.
  Bytes unterminated(256, 'A');
  std::memcpy(unterminated.data(), "TimerM$mState", 13);
  ASSERT_TRUE(command_with_reply(ctl::AM_VARIABLERESOLVECOMMAND, 3, unknown));
  ASSERT_TRUE(command_with_reply(ctl::AM_VARIABLERESOLVECOMMAND, 3, unterminated));
  ASSERT_TRUE(
      command_with_reply(ctl::AM_VARIABLEREQUESTCOMMAND, 0, Bytes{0x10, 0, 0, 0, 0, 0, 0, 0}));
  Bytes bytes = pair.received(std::chrono::milliseconds(500));
  ASSERT_EQ(bytes.size(), 3u + 2 * (14 + 8) + 14 + 260);
  auto first = frames_in(Bytes(bytes.begin() + 1, bytes.begin() + 23));
  auto second = frames_in(Bytes(bytes.begin() + 24, bytes.begin() + 46));
  auto third = frames_in(Bytes(bytes.begin() + 47, bytes.end()));
  for (const auto& frames : {first, second}) {
    ASSERT_EQ(frames.size(), 1u);
    EXPECT_EQ(frames[0].header.msgType, ctl::AM_VARIABLERESOLVERESPONSE);
    EXPECT_EQ(frames[0].header.moteID, 0xFFFF);
    auto response = ctl::from_bytes<ctl::VariableResolveResponse>(frames[0].payload);
    EXPECT_EQ(response.addr, 0u);
    EXPECT_EQ(response.length, 0xFFFFFFFFu);
  }
  ASSERT_EQ(third.size(), 1u);
  EXPECT_EQ(third[0].header.msgType, ctl::AM_VARIABLEREQUESTRESPONSE);
  auto value = ctl::from_bytes<ctl::VariableRequestResponse>(third[0].payload);
  EXPECT_EQ(value.length, 256u);  // a length of 0 means 256
}

TEST_F(CommandReader, ConnectionEndingInsideAFrameIsClosed) {
  pair.send(Bytes{0x10, 0x00, 0x00, 0x01, 0, 0, 0});  // half a header
  ::shutdown(pair.client, SHUT_WR);
  EXPECT_FALSE(readVarnixCommand(pair.server, 0));
  EXPECT_TRUE(vex_state.queue.is_empty());
}

TEST_F(CommandReader, FrameLeftUnfinishedIsClosedAfterTheStallTimeout) {
  Bytes frame = ctl::build_frame(ctl::AM_RADIOMSGSENDCOMMAND, 0, 0, Bytes(112, 7));
  pair.send(std::span(frame).first(60));
  auto started = std::chrono::steady_clock::now();
  EXPECT_FALSE(readVarnixCommand(pair.server, 0));
  EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(2));
  EXPECT_TRUE(vex_state.queue.is_empty());
}

TEST_F(CommandReader, ShortPayloadReadsAsZeros) {
  eventMask = 0x1234;
  ASSERT_TRUE(command(ctl::AM_SETEVENTMASKCOMMAND, 0, 0, Bytes{0x01}));
  EXPECT_EQ(eventMask, 1);
  ASSERT_TRUE(command(ctl::AM_SETDBGCOMMAND, 0, 0, Bytes{0x00, 0x01}));
  EXPECT_EQ(dbg_modes, 0x100);
}

class CommandEvents : public ControlTest {
 protected:
  void SetUp() override {
    ControlTest::SetUp();
    deliveries.clear();
    receiver_buffer = VEX_Msg{};
    set_injection_entry_points({radio_double, uart_double});
  }
  void enqueue(uint16_t type, uint16_t mote, int64_t time, const Bytes& payload = {}) {
    ASSERT_TRUE(enqueue_command_event(
        ctl::GuiMsg{type, mote, time, static_cast<uint16_t>(payload.size())}, payload));
  }
};

TEST_F(CommandEvents, SwitchedOffMoteCanBeSwitchedOnAndOffAgain) {
  ASSERT_FALSE(vex_state.moteOn[2]);
  enqueue(ctl::AM_TURNONMOTECOMMAND, 2, 0);
  run_events();
  EXPECT_TRUE(vex_state.moteOn[2]);
  enqueue(ctl::AM_TURNOFFMOTECOMMAND, 2, 10);
  run_events();
  EXPECT_FALSE(vex_state.moteOn[2]);
  enqueue(ctl::AM_TURNONMOTECOMMAND, 2, 20);
  run_events();
  EXPECT_TRUE(vex_state.moteOn[2]);
  EXPECT_EQ(CommandEvent::pending(), 0);
}

TEST_F(CommandEvents, CommandRunsAtItsTimeAsItsMote) {
  enqueue(ctl::AM_TURNONMOTECOMMAND, 4, 4000000);
  run_events();
  EXPECT_EQ(vex_state.vex_time, 4000000);
  EXPECT_EQ(vex_state.current_node, 4);
  EXPECT_EQ(vex_state.node_state[4].time, 4000000);
}

TEST_F(CommandEvents, InjectedMessageReachesTheMoteInItsGroup) {
  VEX_Msg message = {};
  message.addr = 0xFFFF;
  message.type = 8;
  message.group = 3;
  message.length = 2;
  message.data[0] = 0x41;
  message.data[1] = 0x42;
  Bytes payload = ctl::to_bytes(ctl::RadioMsgSendCommand{message});
  payload.resize(150, 0xEE);  // bytes past the record are not part of the message
  VEX_MsgPtr own = injection_buffer(0);
  enqueue(ctl::AM_UARTMSGSENDCOMMAND, 0, 0, payload);
  run_events();
  ASSERT_EQ(deliveries.size(), 1u);
  EXPECT_FALSE(deliveries[0].radio);
  EXPECT_EQ(deliveries[0].buffer, own);
  const VEX_Msg& got = deliveries[0].message;
  EXPECT_EQ(got.addr, 0xFFFF);
  EXPECT_EQ(got.type, 8);
  EXPECT_EQ(got.group, VEX_AM_GROUP);
  EXPECT_EQ(got.data[1], 0x42);
  EXPECT_EQ(got.receiveSecurityMode, 0);
}

TEST_F(CommandEvents, NextInjectionUsesTheBufferTheReceiverHandedBack) {
  VEX_MsgPtr first = injection_buffer(5);
  enqueue(ctl::AM_RADIOMSGSENDCOMMAND, 5, 0, Bytes(112, 0x33));
  run_events();
  EXPECT_EQ(injection_buffer(5), &receiver_buffer);
  // A short payload leaves the rest of the reused buffer zero, not stale.
  enqueue(ctl::AM_RADIOMSGSENDCOMMAND, 5, 1, Bytes{0x01, 0x00, 0x09});
  run_events();
  ASSERT_EQ(deliveries.size(), 2u);
  EXPECT_EQ(deliveries[0].buffer, first);
  EXPECT_TRUE(deliveries[0].radio);
  EXPECT_EQ(deliveries[1].buffer, &receiver_buffer);
  EXPECT_EQ(deliveries[1].message.addr, 1);
  EXPECT_EQ(deliveries[1].message.type, 9);
  EXPECT_EQ(deliveries[1].message.length, 0);
  EXPECT_EQ(deliveries[1].message.data[50], 0);
}

TEST_F(CommandEvents, InterruptIsEchoedToEventClients) {
  SocketPair client;
  client.acknowledge(2);
  ASSERT_TRUE(add_event_client(client.server));
  client.release_server();
  vex_state.vex_time = 1234;
  enqueue(ctl::AM_INTERRUPTCOMMAND, 0, 0, ctl::to_bytes(ctl::InterruptCommand{42}));
  run_events();
  auto frames = frames_in(client.received());
  ASSERT_EQ(frames.size(), 2u);
  EXPECT_EQ(frames[0].header.msgType, ctl::AM_VARNIXINITEVENT);
  EXPECT_EQ(frames[1].header, (ctl::GuiMsg{ctl::AM_INTERRUPTEVENT, 0xFFFF, 1234, 4}));
  EXPECT_EQ(ctl::from_bytes<ctl::InterruptEvent>(frames[1].payload).id, 42u);
}

TEST_F(CommandEvents, UnknownTypeIsRejectedWhenItRuns) {
  dbg_set(DBG_SIM);
  testing::internal::CaptureStdout();
  ASSERT_FALSE(processCommand(0, ctl::GuiMsg{4200, 1, 0, 0}, {}).has_value());
  run_events();
  std::string out = testing::internal::GetCapturedStdout();
  EXPECT_NE(out.find("SIM: Unrecognizable command type received from Vistrel 4200\n"),
            std::string::npos);
  EXPECT_EQ(CommandEvent::pending(), 0);
}

TEST_F(CommandEvents, FloodOfCommandsForTheFutureIsBounded) {
  for (int i = 0; i < MAX_PENDING_COMMAND_EVENTS; ++i) {
    ASSERT_TRUE(
        enqueue_command_event(ctl::GuiMsg{ctl::AM_TURNONMOTECOMMAND, 1, 1000000000 + i, 0}, {}));
  }
  EXPECT_FALSE(enqueue_command_event(ctl::GuiMsg{ctl::AM_TURNONMOTECOMMAND, 1, 0, 0}, {}));
  vex_state.queue.init(0);  // releasing them makes room again
  EXPECT_EQ(CommandEvent::pending(), 0);
  EXPECT_TRUE(enqueue_command_event(ctl::GuiMsg{ctl::AM_TURNONMOTECOMMAND, 1, 0, 0}, {}));
}

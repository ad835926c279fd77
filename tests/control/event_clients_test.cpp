// What event clients receive: the initial event first, then events passing
// the mask, each framed with its record length; clients that vanish or never
// acknowledge are dropped while the others go on; -gui waits for a client.

#include "control/event_clients.hpp"

#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <memory>
#include <thread>
#include <vector>

#include "control/wire/records.hpp"
#include "control_fixture.hpp"
#include "kernel/pacing.hpp"

using namespace control_test;
using Bytes = std::vector<uint8_t>;
using std::chrono::milliseconds;

namespace {
class EventClients : public ControlTest {
 protected:
  // A connected client that will acknowledge `acks` frames.
  std::unique_ptr<SocketPair> connect(int acks) {
    auto pair = std::make_unique<SocketPair>();
    pair->acknowledge(acks);
    EXPECT_TRUE(add_event_client(pair->server));
    pair->release_server();
    return pair;
  }
  void send(uint16_t type, uint16_t mote, const Bytes& payload) {
    sendVarnixEvent(mote, type, vex_state.vex_time, payload.data(), payload.size());
  }
};
}  // namespace

TEST_F(EventClients, InitialEventDescribesTheSimulation) {
  vex_state.num_nodes = 7;
  vex_state.radioModel = VARNIX_RADIO_MODEL_LOSSY;
  vex_state.vex_time = 99;
  set_rate_value(2.5);
  auto client = connect(1);
  auto frames = frames_in(client->received());
  ASSERT_EQ(frames.size(), 1u);
  EXPECT_EQ(frames[0].header, (ctl::GuiMsg{ctl::AM_VARNIXINITEVENT, 0, 99, 9}));
  ctl::VarnixInitEvent init = ctl::decode_init_event(frames[0].payload);
  EXPECT_EQ(init.numMotes, 7);
  EXPECT_EQ(init.radioModel, 1);
  EXPECT_EQ(init.rate, 2500u);
  set_rate_value(1000.0);
}

TEST_F(EventClients, FifthClientGetsTheInitialEventAndIsClosed) {
  std::vector<std::unique_ptr<SocketPair>> clients;
  for (int i = 0; i < 4; ++i) clients.push_back(connect(1));
  EXPECT_EQ(event_client_count(), 4);
  SocketPair fifth;
  fifth.acknowledge();
  EXPECT_FALSE(add_event_client(fifth.server));
  fifth.release_server();
  auto frames = frames_in(fifth.received());
  ASSERT_EQ(frames.size(), 1u);
  EXPECT_EQ(frames[0].header.msgType, ctl::AM_VARNIXINITEVENT);
  EXPECT_TRUE(fifth.closed_by_server());
  EXPECT_EQ(event_client_count(), 4);
}

TEST_F(EventClients, PayloadTravelsWithItsRecordLength) {
  auto client = connect(3);
  send(ctl::AM_LEDEVENT, 2, Bytes{0x05, 0xAA, 0xBB});  // one byte is the record
  send(ctl::AM_DEBUGMSGEVENT, 3, Bytes{'h', 'i', 0});  // zero-filled to 512
  auto frames = frames_in(client->received());
  ASSERT_EQ(frames.size(), 3u);
  EXPECT_EQ(frames[1].header, (ctl::GuiMsg{ctl::AM_LEDEVENT, 2, 0, 1}));
  EXPECT_EQ(frames[1].payload, Bytes{0x05});
  EXPECT_EQ(frames[2].header.payLoadLen, 512);
  EXPECT_EQ(ctl::debug_text(frames[2].payload), "hi");
}

TEST_F(EventClients, MaskSelectsTypesButNeverTheInitialEvent) {
  auto first = connect(2);
  eventMask = ctl::AM_DEBUGMSGEVENT;
  send(ctl::AM_LEDEVENT, 1, Bytes{1});
  send(ctl::AM_INTERRUPTEVENT, 0xFFFF, Bytes{1, 0, 0, 0});
  send(ctl::AM_DEBUGMSGEVENT, 1, Bytes{'x', 0});
  auto frames = frames_in(first->received());
  ASSERT_EQ(frames.size(), 2u);
  EXPECT_EQ(frames[1].header.msgType, ctl::AM_DEBUGMSGEVENT);
  auto second = connect(1);
  EXPECT_EQ(frames_in(second->received()).size(), 1u);
}

TEST_F(EventClients, DebugLinesReachClientsExceptSimulatorHousekeeping) {
  auto client = connect(2);
  dbg_set(DBG_ALL);
  dbg_suppress_stdout = true;
  vex_state.current_node = 6;
  dbg(DBG_SIM, "housekeeping\n");
  dbg(DBG_BOOT, "booting %d\n", 6);
  dbg_suppress_stdout = false;
  auto frames = frames_in(client->received());
  ASSERT_EQ(frames.size(), 2u);
  EXPECT_EQ(frames[1].header.moteID, 6);
  EXPECT_EQ(ctl::debug_text(frames[1].payload), "booting 6\n");
}

TEST_F(EventClients, ClientThatNeverAcknowledgesIsDroppedAndTheOthersGoOn) {
  auto good = connect(3);
  auto silent = connect(1);  // acknowledges its initial event only
  auto started = std::chrono::steady_clock::now();
  send(ctl::AM_LEDEVENT, 1, Bytes{1});
  EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(2));
  EXPECT_EQ(event_client_count(), 1);
  EXPECT_TRUE(silent->closed_by_server() || !silent->received().empty());
  send(ctl::AM_LEDEVENT, 1, Bytes{2});
  auto frames = frames_in(good->received());
  ASSERT_EQ(frames.size(), 3u);
  EXPECT_EQ(frames[2].payload, Bytes{2});
}

TEST_F(EventClients, VanishedClientIsDropped) {
  auto client = connect(1);
  ::close(client->client);
  client->client = -1;
  send(ctl::AM_LEDEVENT, 1, Bytes{1});
  EXPECT_EQ(event_client_count(), 0);
}

TEST_F(EventClients, ClientsThatLeftMakeRoomForANewcomerWithoutAnyEventSent) {
  // Four clients leave while no event is sent (say, the mask lets none
  // through); a fifth must still get in.
  std::vector<std::unique_ptr<SocketPair>> gone;
  for (int i = 0; i < 4; ++i) {
    gone.push_back(connect(1));
    ::close(gone.back()->client);
    gone.back()->client = -1;
  }
  auto stays = connect(2);
  auto newcomer = connect(2);
  EXPECT_EQ(event_client_count(), 2);
  send(ctl::AM_LEDEVENT, 1, Bytes{1});
  EXPECT_EQ(frames_in(newcomer->received()).size(), 2u);
}

TEST_F(EventClients, GuiModeHoldsTheSenderUntilAClientConnects) {
  event_clients_reset(true);
  event_clients_enable(true);
  std::atomic<bool> sent{false};
  std::thread simulation([&] {
    send(ctl::AM_LEDEVENT, 1, Bytes{4});
    sent = true;
  });
  std::this_thread::sleep_for(milliseconds(50));
  EXPECT_FALSE(sent);
  auto client = connect(2);
  simulation.join();
  EXPECT_TRUE(sent);
  auto frames = frames_in(client->received());
  ASSERT_EQ(frames.size(), 2u);
  EXPECT_EQ(frames[0].header.msgType, ctl::AM_VARNIXINITEVENT);
  EXPECT_EQ(frames[1].header.msgType, ctl::AM_LEDEVENT);
}

TEST_F(EventClients, WaitForGuiReturnsOnceAClientIsThere) {
  std::atomic<bool> done{false};
  std::thread waiter([&] {
    waitForGuiConnection();
    done = true;
  });
  std::this_thread::sleep_for(milliseconds(30));
  EXPECT_FALSE(done);
  auto client = connect(1);
  waiter.join();
  EXPECT_TRUE(done);
}

TEST_F(EventClients, SendersOnTwoThreadsNeverInterleaveFrames) {
  constexpr int per_thread = 200;
  auto client = std::make_unique<SocketPair>();
  client->acknowledge(1 + 2 * per_thread);
  ASSERT_TRUE(add_event_client(client->server));
  client->release_server();
  std::vector<uint8_t> received;
  std::thread reader([&] { received = client->received(milliseconds(500)); });
  auto sender = [&](uint16_t mote) {
    for (int i = 0; i < per_thread; ++i)
      send(ctl::AM_LEDEVENT, mote, Bytes{static_cast<uint8_t>(i)});
  };
  std::thread a(sender, 1);
  std::thread b(sender, 2);
  a.join();
  b.join();
  reader.join();
  auto frames = frames_in(received);
  EXPECT_EQ(frames.size(), 1u + 2 * per_thread);
}

TEST_F(EventClients, AnEventSentWhileANewcomerIsGreetedReachesIt) {
  // The newcomer has its initial event but has not acknowledged it yet
  // when the simulation sends an event: the event must wait for the
  // newcomer to be registered, not pass as if nobody were listening.
  SocketPair newcomer;
  std::thread greeter([&] { EXPECT_TRUE(add_event_client(newcomer.server)); });
  uint8_t init[ctl::GUI_MSG_SIZE + 9];
  ASSERT_EQ(ctl::read_exact(newcomer.client, init, ctl::deadline_after(milliseconds(1000))),
            ctl::IoStatus::ok);
  std::thread sender([&] { send(ctl::AM_INTERRUPTEVENT, 0, ctl::to_bytes(ctl::InterruptEvent{42})); });
  std::this_thread::sleep_for(milliseconds(50));
  newcomer.acknowledge(2);  // the initial event and the echo
  greeter.join();
  sender.join();
  newcomer.release_server();
  auto frames = frames_in(newcomer.received());
  ASSERT_EQ(frames.size(), 1u);
  EXPECT_EQ(frames[0].header.msgType, ctl::AM_INTERRUPTEVENT);
}

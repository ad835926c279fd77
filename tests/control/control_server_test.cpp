// The two service threads in this process: they serve real sockets, and
// shutting the ports down stops them and closes every connection.

#include "control/control_server.hpp"

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <thread>

#include "control/client/control_client.hpp"
#include "control/variable_access.hpp"
#include "control_fixture.hpp"

using namespace control_test;
using std::chrono::milliseconds;

namespace {
// A port nothing listens on just now.
uint16_t unused_port() {
  int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t size = sizeof address;
  EXPECT_EQ(::bind(fd, reinterpret_cast<sockaddr*>(&address), size), 0);
  EXPECT_EQ(::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &size), 0);
  ::close(fd);
  return ntohs(address.sin_port);
}

class ControlServer : public ControlTest {
 protected:
  void SetUp() override {
    ControlTest::SetUp();
    vex_state.num_nodes = 3;
    settings_.command_port = unused_port();
    settings_.event_port = unused_port();
  }
  void TearDown() override {
    shutdownSockets();
    set_variable_read_wait(milliseconds(2000));
    ControlTest::TearDown();
  }
  ControlSettings settings_;
};
}  // namespace

TEST_F(ControlServer, ShutdownStopsTheThreadsAndClosesEveryConnection) {
  initializeSockets(settings_);
  ctl::CommandClient commands;
  ASSERT_TRUE(commands.connect(settings_.command_port)) << commands.error().text;
  std::optional<ctl::MoteCount> count = commands.get_mote_count();
  ASSERT_TRUE(count) << commands.error().text;
  EXPECT_EQ(count->totalMotes, 3);
  ctl::EventClient events;
  ASSERT_TRUE(events.connect(settings_.event_port));
  ASSERT_TRUE(events.next(milliseconds(5000)));
  // Kept once its acknowledgement of the initial event is in.
  for (int wait = 0; wait < 100 && event_client_count() == 0; ++wait) {
    std::this_thread::sleep_for(milliseconds(10));
  }
  EXPECT_EQ(event_client_count(), 1);

  shutdownSockets();
  EXPECT_FALSE(commands.get_mote_count().has_value());
  EXPECT_EQ(commands.error().kind, ctl::ErrorKind::closed);
  EXPECT_FALSE(events.next(milliseconds(1000)).has_value());
  EXPECT_EQ(events.error().kind, ctl::ErrorKind::closed);
  ctl::Connection refused;
  EXPECT_FALSE(refused.connect(settings_.command_port, milliseconds(1000)));
  EXPECT_EQ(refused.error().kind, ctl::ErrorKind::refused);
  EXPECT_FALSE(client_events_wanted());

  // The ports open again, on the same numbers.
  initializeSockets(settings_);
  ASSERT_TRUE(commands.connect(settings_.command_port));
  EXPECT_TRUE(commands.get_mote_count().has_value());
}

TEST_F(ControlServer, CommandsFromTheThreadReachTheQueueAndTheSettings) {
  initializeSockets(settings_);
  ctl::CommandClient commands;
  ASSERT_TRUE(commands.connect(settings_.command_port));
  ASSERT_TRUE(commands.set_event_mask(0x41));
  ASSERT_TRUE(commands.turn_on(2, 4000000));
  EXPECT_EQ(eventMask, 0x41);
  EXPECT_EQ(vex_state.queue.peek_event_time(), 4000000);
  // A frame cut short by the client leaves the others served.
  {
    ctl::CommandClient quitter;
    ASSERT_TRUE(quitter.connect(settings_.command_port));
    ASSERT_TRUE(quitter.send_raw(std::vector<uint8_t>{0x10, 0x00, 0x00}));
  }
  EXPECT_TRUE(commands.get_mote_count().has_value());
}

// Nothing here plays the simulation thread, so no read is ever served: the
// reply says so (length 0) and the client reports it instead of a value.
TEST_F(ControlServer, ReadNobodyServesIsReportedAsNotRead) {
  initializeSockets(settings_);
  set_variable_read_wait(milliseconds(50));
  ctl::CommandClient commands;
  ASSERT_TRUE(commands.connect(settings_.command_port)) << commands.error().text;
  auto where = commands.resolve(1, "TimerM$mState");
  ASSERT_TRUE(where) << commands.error().text;
  EXPECT_FALSE(commands.request(where->addr, 4).has_value());
  EXPECT_EQ(commands.error().kind, ctl::ErrorKind::unserved);
  ctl::VariableRequestCommand request{};
  request.addr = where->addr;
  request.length = 4;
  auto reply =
      commands.send_for_reply(ctl::AM_VARIABLEREQUESTCOMMAND, 0, 0, ctl::to_bytes(request));
  ASSERT_TRUE(reply) << commands.error().text;
  EXPECT_EQ(ctl::from_bytes<ctl::VariableRequestResponse>(reply->payload).length, 0u);
}

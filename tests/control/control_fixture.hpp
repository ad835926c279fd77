#pragma once
// In-process tests of the control ports' logic. Client sockets are one end
// of a socket pair; the test plays the client on the other end.

#include <gtest/gtest.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <optional>
#include <span>
#include <vector>

#include "control/command_event.hpp"
#include "control/command_processor.hpp"
#include "control/event_clients.hpp"
#include "control/wire/gui_msg.hpp"
#include "control/wire/socket_io.hpp"
#include "kernel/client_events.hpp"
#include "kernel/dbg.hpp"
#include "kernel/scheduler.hpp"
#include "kernel/vex_state.hpp"
#include "support/run.hpp"
#include "support/world_test.hpp"

namespace control_test {

// One connected pair: `server` is what the control code gets, `client` the
// test's end.
struct SocketPair {
  int server = -1;
  int client = -1;
  SocketPair() {
    int fds[2];
    EXPECT_EQ(::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, fds), 0);
    server = fds[0];
    client = fds[1];
  }
  ~SocketPair() {
    if (server >= 0) ::close(server);
    if (client >= 0) ::close(client);
  }
  SocketPair(const SocketPair&) = delete;
  SocketPair& operator=(const SocketPair&) = delete;
  // The control code closed `server` itself: do not close it again.
  void release_server() { server = -1; }

  void send(std::span<const uint8_t> bytes) const {
    ASSERT_EQ(ctl::write_all(client, bytes, ctl::deadline_after(std::chrono::milliseconds(1000))),
              ctl::IoStatus::ok);
  }
  void send_frame(uint16_t type, uint16_t mote, int64_t time,
                  std::span<const uint8_t> payload = {}) const {
    send(ctl::build_frame(type, mote, time, payload));
  }
  // Acknowledgement bytes the control code will find waiting.
  void acknowledge(int count = 1) const { send(std::vector<uint8_t>(count, 1)); }

  // Everything that arrives within `wait`.
  std::vector<uint8_t> received(
      std::chrono::milliseconds wait = std::chrono::milliseconds(20)) const {
    std::vector<uint8_t> bytes;
    uint8_t buffer[4096];
    while (ctl::wait_readable(client, ctl::deadline_after(wait)) == ctl::IoStatus::ok) {
      ssize_t n = ::recv(client, buffer, sizeof buffer, MSG_DONTWAIT);
      if (n <= 0) break;
      bytes.insert(bytes.end(), buffer, buffer + n);
    }
    return bytes;
  }
  // True when the control code has closed its end (end of stream).
  bool closed_by_server() const {
    uint8_t byte;
    if (ctl::wait_readable(client, ctl::deadline_after(std::chrono::milliseconds(1000))) !=
        ctl::IoStatus::ok) {
      return false;
    }
    return ::recv(client, &byte, 1, MSG_DONTWAIT) == 0;
  }
};

// Splits received bytes into frames; fails the test on a partial frame.
struct ReceivedFrame {
  ctl::GuiMsg header;
  std::vector<uint8_t> payload;
};
inline std::vector<ReceivedFrame> frames_in(const std::vector<uint8_t>& bytes) {
  std::vector<ReceivedFrame> frames;
  std::size_t at = 0;
  while (at + ctl::GUI_MSG_SIZE <= bytes.size()) {
    ctl::GuiMsg header = ctl::decode_header(
        std::span<const uint8_t, ctl::GUI_MSG_SIZE>(&bytes[at], ctl::GUI_MSG_SIZE));
    at += ctl::GUI_MSG_SIZE;
    EXPECT_LE(at + header.payLoadLen, bytes.size()) << "partial frame";
    if (at + header.payLoadLen > bytes.size()) break;
    frames.push_back(
        {header, std::vector<uint8_t>(bytes.begin() + at, bytes.begin() + at + header.payLoadLen)});
    at += header.payLoadLen;
  }
  EXPECT_EQ(at, bytes.size()) << "bytes after the last whole frame";
  return frames;
}

// A fresh world of 10 motes whose client events go to the event clients.
class ControlTest : public WorldTest {
 protected:
  void SetUp() override {
    WorldTest::SetUp();
    vex_state.num_nodes = 10;
    event_clients_enable(true);
    set_client_event_sink(send_event_to_clients);
    set_client_stall_timeout(std::chrono::milliseconds(200));
  }
  void TearDown() override {
    set_injection_entry_points(default_injection_entry_points());
    set_client_stall_timeout(std::chrono::milliseconds(5000));
    // Closes the clients' sockets and puts their state back.
    WorldTest::TearDown();
  }
  void run_events() { support::run_all(); }
};

}  // namespace control_test

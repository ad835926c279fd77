// Fuzzes the command port: the bytes of the input arrive on a command
// client's connection as if a client had sent them. The reader takes frames
// from them until the stream ends, the command thread's processing acts on
// each one, and the command events it queues (motes switched on and off,
// radio and serial messages injected, interrupts) then run on a world of
// four motes.

#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <cstdlib>

#include "control/command_processor.hpp"
#include "control/command_reader.hpp"
#include "control/event_clients.hpp"
#include "control/variable_access.hpp"
#include "control/wire/gui_msg.hpp"
#include "control/wire/socket_io.hpp"
#include "fuzz_world.hpp"
#include "kernel/pacing.hpp"

namespace {
constexpr int kMotes = 4;
// Frames are read from a socket buffer: keep inputs well below its size so
// that writing the input never blocks.
constexpr std::size_t kMaxInput = 16384;

void drain(int fd) {
  uint8_t buffer[4096];
  while (::recv(fd, buffer, sizeof buffer, MSG_DONTWAIT) > 0) {
  }
}
}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  // Nothing waits for a client that is not there: a frame cut short ends
  // at once (the client's end is shut), and variable reads give up at once
  // (no simulation thread serves them here; they are answered as not read).
  set_client_stall_timeout(std::chrono::milliseconds(50));
  set_variable_read_wait(std::chrono::milliseconds(0));
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
  if (size > kMaxInput) return 0;
  fuzz::world_reset(kMotes);
  fuzz::world_boot_all();
  const double rate_before = 1000.0;
  set_rate_value(rate_before);

  int fds[2];
  if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, fds) != 0) std::abort();
  const int server = fds[0];
  const int client = fds[1];
  int buffer_size = static_cast<int>(4 * kMaxInput);
  ::setsockopt(client, SOL_SOCKET, SO_SNDBUF, &buffer_size, sizeof buffer_size);
  ::setsockopt(server, SOL_SOCKET, SO_RCVBUF, &buffer_size, sizeof buffer_size);
  if (ctl::write_all(client, {data, size}, ctl::deadline_after(std::chrono::seconds(1))) !=
      ctl::IoStatus::ok) {
    std::abort();
  }
  ::shutdown(client, SHUT_WR);

  // Every frame is read and answered; the stream's end closes the connection.
  while (readVarnixCommand(server, 0)) drain(client);
  drain(client);
  ::close(server);
  ::close(client);

  fuzz::world_run(200000, 20000);
  return 0;
}

#pragma once
// Whole-buffer reads and writes on a stream socket that never wait past a
// deadline and can be cut short by a stop descriptor becoming readable. They
// work whether the socket is blocking or not (each call is non-blocking and
// waits in poll), and sending never raises SIGPIPE.

#include <chrono>
#include <cstdint>
#include <span>

namespace ctl {

using IoClock = std::chrono::steady_clock;
using Deadline = IoClock::time_point;

inline Deadline no_deadline() { return Deadline::max(); }
inline Deadline deadline_after(std::chrono::milliseconds wait) { return IoClock::now() + wait; }

enum class IoStatus {
  ok,
  closed,   // the peer closed the connection (end of stream, reset, broken pipe)
  timeout,  // the deadline passed first
  stopped,  // the stop descriptor became readable
  error,    // any other failure; errno tells
};

const char* io_status_text(IoStatus status);

// Work to do whenever `fd` becomes readable during a wait; the wait then goes
// on toward the same deadline. The simulation thread serves other threads'
// requests this way while it waits for a client.
struct WaitService {
  int fd = -1;
  void (*serve)() = nullptr;
};

// Reads exactly out.size() bytes. `done`, when given, counts the bytes read
// so far, also when the call fails part way.
IoStatus read_exact(int fd, std::span<uint8_t> out, Deadline deadline, int stop_fd = -1,
                    std::size_t* done = nullptr, WaitService service = {});
// Writes all of `data`.
IoStatus write_all(int fd, std::span<const uint8_t> data, Deadline deadline, int stop_fd = -1,
                   WaitService service = {});
// Waits until fd is readable (or closed by the peer).
IoStatus wait_readable(int fd, Deadline deadline, int stop_fd = -1);

}  // namespace ctl

#include "control/stop_signal.hpp"

#include <fcntl.h>
#include <unistd.h>

#include <atomic>

namespace control_stop {
namespace {
std::atomic<int> read_end{-1};
std::atomic<int> write_end{-1};
std::atomic<bool> is_raised{false};
}  // namespace

void arm() {
  disarm();
  int fds[2];
  if (::pipe2(fds, O_CLOEXEC | O_NONBLOCK) != 0) return;  // waits then simply have no stop
  read_end = fds[0];
  write_end = fds[1];
  is_raised = false;
}

void raise() {
  is_raised = true;
  int fd = write_end.load();
  if (fd >= 0) {
    const char byte = 1;
    ssize_t ignored = ::write(fd, &byte, 1);
    (void)ignored;
  }
}

void disarm() {
  int r = read_end.exchange(-1);
  int w = write_end.exchange(-1);
  if (r >= 0) ::close(r);
  if (w >= 0) ::close(w);
}

int fd() { return read_end.load(); }
bool raised() { return is_raised.load(); }

}  // namespace control_stop

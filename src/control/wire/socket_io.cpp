#include "control/wire/socket_io.hpp"

#include <errno.h>
#include <poll.h>
#include <sys/socket.h>

#include <algorithm>

namespace ctl {
namespace {
// Milliseconds until the deadline for poll: -1 forever, 0 when past.
int poll_timeout(Deadline deadline) {
  if (deadline == Deadline::max()) return -1;
  auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - IoClock::now());
  if (left.count() <= 0) return 0;
  // Round up so that a wait never ends just before its deadline.
  return static_cast<int>(std::min<long long>(left.count() + 1, 1 << 30));
}

// Waits for `events` on fd. ok when they (or a hang-up or error) came.
IoStatus wait_for(int fd, short events, Deadline deadline, int stop_fd, WaitService service) {
  for (;;) {
    pollfd fds[3] = {{fd, events, 0}, {stop_fd, POLLIN, 0}, {service.fd, POLLIN, 0}};
    int ready = ::poll(fds, 3, poll_timeout(deadline));  // negative descriptors are skipped
    if (ready < 0) {
      if (errno == EINTR) continue;
      return IoStatus::error;
    }
    if (fds[1].revents != 0) return IoStatus::stopped;
    if (fds[0].revents & POLLNVAL) {
      errno = EBADF;
      return IoStatus::error;
    }
    if (fds[0].revents != 0) return IoStatus::ok;
    if (fds[2].revents != 0 && service.serve != nullptr) service.serve();
    if (ready == 0 && IoClock::now() >= deadline) return IoStatus::timeout;
  }
}

bool is_closed_error(int error) {
  return error == ECONNRESET || error == EPIPE || error == ENOTCONN || error == ECONNABORTED;
}
}  // namespace

const char* io_status_text(IoStatus status) {
  switch (status) {
    case IoStatus::ok: return "ok";
    case IoStatus::closed: return "connection closed";
    case IoStatus::timeout: return "timed out";
    case IoStatus::stopped: return "stopped";
    case IoStatus::error: return "socket error";
  }
  return "?";
}

IoStatus read_exact(int fd, std::span<uint8_t> out, Deadline deadline, int stop_fd,
                    std::size_t* done, WaitService service) {
  std::size_t got = 0;
  if (done != nullptr) *done = 0;
  while (got < out.size()) {
    ssize_t n = ::recv(fd, out.data() + got, out.size() - got, MSG_DONTWAIT);
    if (n > 0) {
      got += static_cast<std::size_t>(n);
      if (done != nullptr) *done = got;
      continue;
    }
    if (n == 0) return IoStatus::closed;
    if (errno == EINTR) continue;
    if (errno != EAGAIN && errno != EWOULDBLOCK) {
      return is_closed_error(errno) ? IoStatus::closed : IoStatus::error;
    }
    IoStatus waited = wait_for(fd, POLLIN, deadline, stop_fd, service);
    if (waited != IoStatus::ok) return waited;
  }
  return IoStatus::ok;
}

IoStatus write_all(int fd, std::span<const uint8_t> data, Deadline deadline, int stop_fd,
                   WaitService service) {
  std::size_t sent = 0;
  while (sent < data.size()) {
    ssize_t n = ::send(fd, data.data() + sent, data.size() - sent, MSG_NOSIGNAL | MSG_DONTWAIT);
    if (n > 0) {
      sent += static_cast<std::size_t>(n);
      continue;
    }
    if (n < 0 && errno == EINTR) continue;
    if (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK) {
      return is_closed_error(errno) ? IoStatus::closed : IoStatus::error;
    }
    // Nothing went out (a full buffer, or a send of 0 bytes): wait and retry.
    IoStatus waited = wait_for(fd, POLLOUT, deadline, stop_fd, service);
    if (waited != IoStatus::ok) return waited;
  }
  return IoStatus::ok;
}

IoStatus wait_readable(int fd, Deadline deadline, int stop_fd) {
  return wait_for(fd, POLLIN, deadline, stop_fd, {});
}

}  // namespace ctl

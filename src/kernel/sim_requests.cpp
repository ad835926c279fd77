#include "kernel/sim_requests.hpp"

#include <fcntl.h>
#include <poll.h>
#include <time.h>
#include <unistd.h>

#include <array>

#include "kernel/attention.hpp"

namespace sim_requests {
namespace detail {
std::atomic<bool> posted{false};
}  // namespace detail

namespace {
std::atomic<void (*)()> handler{nullptr};

// Wakers are registered by static objects before main, so they need no lock.
std::array<void (*)(), 4> wakers{};
std::atomic<int> waker_count{0};

// A pipe with a byte in it while a post waits to be noticed.
struct WakePipe {
  int read_end = -1;
  int write_end = -1;
  WakePipe() {
    int fds[2];
    if (::pipe2(fds, O_CLOEXEC | O_NONBLOCK) != 0) return;
    read_end = fds[0];
    write_end = fds[1];
  }
};

const WakePipe& wake_pipe() {
  static const WakePipe pipe;  // made on first use, from whichever thread
  return pipe;
}

void drain() {
  int fd = wake_pipe().read_end;
  if (fd < 0) return;
  char bytes[16];
  while (::read(fd, bytes, sizeof bytes) > 0) {
  }
}
}  // namespace

void detail::serve_posted() {
  // Cleared before the handler runs: a post made while it runs is served
  // either by this run or by the next one, never lost.
  posted.store(false, std::memory_order_seq_cst);
  drain();
  if (auto serve = handler.load(std::memory_order_acquire)) serve();
}

void set_handler(void (*serve)()) { handler.store(serve, std::memory_order_release); }

void post() {
  if (!detail::posted.exchange(true, std::memory_order_seq_cst)) {
    attention::raise(attention::request);
    int fd = wake_pipe().write_end;
    if (fd >= 0) {
      const char byte = 1;
      ssize_t ignored = ::write(fd, &byte, 1);  // a full pipe already wakes
      (void)ignored;
    }
  }
  int count = waker_count.load(std::memory_order_acquire);
  for (int i = 0; i < count; ++i) wakers[static_cast<std::size_t>(i)]();
}

int wake_fd() { return wake_pipe().read_end; }

void on_wake() {
  if (detail::posted.load(std::memory_order_acquire)) {
    detail::serve_posted();
  } else {
    drain();  // a byte left by a post that was served before it arrived
  }
}

void sleep_serving(int64_t us) {
  if (us <= 0) return;
  timespec wait{static_cast<time_t>(us / 1000000), static_cast<long>((us % 1000000) * 1000)};
  pollfd wake{wake_fd(), POLLIN, 0};
  // Without a pipe this is a plain sleep (a ^C then waits for its end).
  int ready = ::ppoll(&wake, wake.fd >= 0 ? 1 : 0, &wait, nullptr);
  if (ready > 0) {
    on_wake();
  } else {
    serve();
  }
}

Waker::Waker(void (*wake)()) {
  int at = waker_count.load(std::memory_order_relaxed);
  if (at >= static_cast<int>(wakers.size())) return;
  wakers[static_cast<std::size_t>(at)] = wake;
  waker_count.store(at + 1, std::memory_order_release);
}

}  // namespace sim_requests

#pragma once
// Work other threads hand to the simulation thread.
//
// Only the simulation thread touches mote state, so a control thread that
// needs something of it (a variable read) posts a request and waits. The
// simulation thread serves requests between events and at every point where
// it waits: pacing sleeps, idle time, an event client's acknowledgement, the
// wait for a first client. A request is therefore answered promptly whatever
// the rate (also 0) and however slow the event clients are.
//
// Guarantees: everything a thread made ready before post() is seen by the
// handler run after it. With nothing posted, serve() costs one atomic load.

#include <atomic>
#include <cstdint>

namespace sim_requests {

// What serving means (the control server sets it to the variable mailbox);
// nullptr: nothing to do.
void set_handler(void (*serve)());

// Any thread: asks the simulation thread to run the handler soon, and wakes
// it wherever it waits.
void post();

namespace detail {
extern std::atomic<bool> posted;
void serve_posted();
}  // namespace detail

// Simulation thread: runs the handler when something was posted.
inline void serve() {
  if (detail::posted.load(std::memory_order_acquire)) detail::serve_posted();
}

// For waits in poll(): a descriptor that becomes readable when something is
// posted (-1 when none could be made; such waits then serve when they end).
int wake_fd();
// Simulation thread, when wake_fd() was readable: clears it and serves.
void on_wake();

// Simulation thread: sleeps up to `us` microseconds. Returns early, after
// serving, when something is posted (a ^C posts too).
void sleep_serving(int64_t us);

// A condition-variable wait of the simulation thread registers a waker that
// makes the wait end; post() calls every waker. Register at start-up only.
struct Waker {
  explicit Waker(void (*wake)());
};

}  // namespace sim_requests

#pragma once
// Keeps virtual time from running more than `rate` times faster than real
// time. The rate may be changed from the command thread at any moment; the
// simulation thread picks the change up at its next pacing check, together
// with a new checkpoint, so rate, checkpoint time and wall-clock start always
// change as one.

#include <cstdint>

#include "kernel/vex_state.hpp"
#include "kernel/vex_types.hpp"

// Start-up (before the main loop): the rate in virtual seconds per real second.
void set_rate_value(double rate);
double get_rate_value();

// From any thread: the rate in thousandths, as control clients send it.
void set_sim_rate(uint32_t rate);
// The rate in thousandths, truncated toward zero, as clients are told it:
// rates above what their 32-bit field holds (and inf) read as its largest
// value, max_reported_rate.
inline constexpr int64_t max_reported_rate = 0xFFFFFFFF;
int64_t get_sim_rate();

// Simulation thread: a new checkpoint at the current virtual time.
void rate_checkpoint();
// Simulation thread, after every event: sleeps while virtual time is ahead
// of what the rate allows, serving other threads' requests meanwhile
// (kernel/sim_requests.hpp). Returns early when an interrupt is pending.
// Picks up a rate change first.
void rate_based_wait();

// Simulation thread: picks up a rate the command thread has set since the
// last call (set_sim_rate also raises the attention word for it).
void rate_apply_pending();

namespace pacing_detail {
// Virtual time up to which the last clock reading allows running on. Allowed
// time only grows, so until then there is no need to read the clock.
extern vex_time_t deadline;
}  // namespace pacing_detail
void rate_wait_beyond_deadline();

// The main loop's form of rate_based_wait, for a loop that applies rate
// changes when the attention word says so: until virtual time passes the
// deadline of the last clock reading, one comparison.
inline void rate_wait_if_ahead() {
  if (vex_state.vex_time > pacing_detail::deadline) rate_wait_beyond_deadline();
}
// Simulation thread, while the queue is empty: lets virtual time follow real
// time at the rate, up to `limit` (0: no limit), sleeping briefly.
void rate_idle_advance(vex_time_t limit);

// Virtual ticks allowed after `elapsed_us` real microseconds at `rate`.
int64_t allowed_ticks(int64_t elapsed_us, double rate);
// Real microseconds to sleep when `ticks_run` virtual ticks have run since
// the checkpoint and `elapsed_us` real microseconds have passed; 0 when
// within the 10,000-tick slack. A rate of 0 (or less) never catches up:
// the answer is then -1 and the caller waits for a rate change.
int64_t pacing_sleep_us(int64_t elapsed_us, int64_t ticks_run, double rate);

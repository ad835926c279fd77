#include "kernel/pacing.hpp"

#include <time.h>

#include <atomic>
#include <cmath>

#include "kernel/attention.hpp"
#include "kernel/dbg.hpp"
#include "kernel/signals.hpp"
#include "kernel/sim_requests.hpp"
#include "kernel/vex_state.hpp"

namespace {
constexpr int64_t slack_ticks = 10000;           // 2.5 ms of virtual time
constexpr int64_t longest_sleep_us = 50000;      // stay responsive to rate changes and ^C
constexpr int64_t idle_sleep_us = 1000;

// Shared with the command thread.
std::atomic<double> rate_value{1000.0};
std::atomic<bool> rate_change_pending{false};

// Simulation thread only.
double active_rate = 1000.0;
vex_time_t rate_checkpoint_time = 0;
int64_t startTime_us = 0;
int64_t known_allowed = -1;  // ticks allowed at the last clock reading

int64_t now_us() {
  timespec ts;
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return static_cast<int64_t>(ts.tv_sec) * 1000000 + ts.tv_nsec / 1000;
}

// Virtual time up to which the last clock reading allows running on.
void set_known_allowed(int64_t allowed) {
  known_allowed = allowed;
  pacing_detail::deadline = rate_checkpoint_time + allowed + slack_ticks;
}

int64_t allowed_now() {
  set_known_allowed(allowed_ticks(now_us() - startTime_us, active_rate));
  return known_allowed;
}
}  // namespace

namespace pacing_detail {
vex_time_t deadline = slack_ticks - 1;
}  // namespace pacing_detail

void rate_apply_pending() {
  if (rate_change_pending.load(std::memory_order_acquire)) {
    rate_change_pending.store(false, std::memory_order_relaxed);
    rate_checkpoint();
  }
}

int64_t allowed_ticks(int64_t elapsed_us, double rate) {
  double allowed = static_cast<double>(elapsed_us * 4) * rate;
  // Clamped so that enormous rates cannot overflow the conversion.
  if (!(allowed < 0x1p62)) return INT64_C(1) << 62;
  if (allowed < 0) return 0;
  return static_cast<int64_t>(allowed);
}

int64_t pacing_sleep_us(int64_t elapsed_us, int64_t ticks_run, double rate) {
  int64_t allowed = allowed_ticks(elapsed_us, rate);
  if (ticks_run <= allowed + slack_ticks) return 0;
  if (!(rate > 0)) return -1;
  double us = static_cast<double>(ticks_run - allowed) / (4.0 * rate);
  // A tiny rate asks for longer than any clock holds; callers sleep in slices anyway.
  if (!(us < 0x1p62)) return INT64_C(1) << 62;
  return us < 1 ? 1 : static_cast<int64_t>(us);
}

void set_rate_value(double rate) {
  rate_value.store(rate);
  active_rate = rate;
}

double get_rate_value() { return rate_value.load(); }

void set_sim_rate(uint32_t rate) {
  double value = rate / 1000.0;
  rate_value.store(value);
  dbg(DBG_SIM, "SIM: Setting rate to %lf\n", value);
  rate_change_pending.store(true, std::memory_order_release);
  attention::raise(attention::rate);
}

int64_t get_sim_rate() {
  double thousandths = rate_value.load() * 1000.0;
  // Saturates at what the clients' 32-bit rate field holds (inf included).
  if (!(thousandths < static_cast<double>(max_reported_rate))) return max_reported_rate;
  return thousandths > 0 ? static_cast<int64_t>(thousandths) : 0;
}

void rate_checkpoint() {
  active_rate = rate_value.load();
  rate_checkpoint_time = vex_state.vex_time;
  startTime_us = now_us();
  set_known_allowed(-1);
}

void rate_based_wait() {
  rate_apply_pending();
  rate_wait_if_ahead();
}

void rate_wait_beyond_deadline() {
  for (;;) {
    int64_t ticks_run = vex_state.vex_time - rate_checkpoint_time;
    int64_t elapsed_us = now_us() - startTime_us;
    int64_t wait = pacing_sleep_us(elapsed_us, ticks_run, active_rate);
    set_known_allowed(allowed_ticks(elapsed_us, active_rate));
    if (wait == 0 || sigint_pending()) return;
    // Reads of control clients are served while sleeping; the loop then
    // simply measures again.
    sim_requests::sleep_serving(wait < 0 || wait > longest_sleep_us ? longest_sleep_us : wait);
    rate_apply_pending();
  }
}

void rate_idle_advance(vex_time_t limit) {
  rate_apply_pending();
  vex_time_t target = rate_checkpoint_time + allowed_now();
  if (limit > 0 && target > limit) target = limit;
  if (target > vex_state.vex_time) vex_state.vex_time = target;
  if (limit > 0 && vex_state.vex_time >= limit) return;
  sim_requests::sleep_serving(idle_sleep_us);
}

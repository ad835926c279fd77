#include "kernel/power_ledger.hpp"

#include "kernel/vex_state.hpp"
#include "kernel/world.hpp"

namespace power_ledger {
namespace {

struct MotePower {
  bool on = false;
  Radio radio = Radio::sleep;
  uint8_t lit = 0;  // bit i: LED i
  vex_time_t on_since = 0;
  vex_time_t radio_since = 0;
  std::array<vex_time_t, LED_COUNT> led_since{};
  Times closed;  // finished intervals
};

std::array<MotePower, VEXNODES> ledger{};
const WorldReset clear_ledger{[] { restore_table(ledger); }};

vex_time_t now() { return vex_state.vex_time.load(); }

MotePower* running_mote_if_on() {
  MotePower& p = ledger[vex_state.current_node.load()];
  return p.on ? &p : nullptr;
}

// `p` with every open interval closed at `at`, its states unchanged.
Times closed_at(const MotePower& p, vex_time_t at) {
  Times t = p.closed;
  if (!p.on) return t;
  t.on += at - p.on_since;
  t.radio[static_cast<int>(p.radio)] += at - p.radio_since;
  for (int i = 0; i < LED_COUNT; ++i) {
    if (p.lit & (1u << i)) t.led[i] += at - p.led_since[i];
  }
  return t;
}
}  // namespace

void switched_on(int mote, vex_time_t at) {
  MotePower& p = ledger[mote];
  if (p.on) return;
  p.on = true;
  p.radio = Radio::sleep;
  p.lit = 0;
  p.on_since = p.radio_since = at;
}

void switched_off(int mote, vex_time_t at) {
  MotePower& p = ledger[mote];
  if (!p.on) return;
  p.closed = closed_at(p, at);
  p.on = false;
}

void radio(Radio state) {
  MotePower* p = running_mote_if_on();
  if (p == nullptr || p->radio == state) return;
  const vex_time_t at = now();
  p->closed.radio[static_cast<int>(p->radio)] += at - p->radio_since;
  p->radio = state;
  p->radio_since = at;
}

void led(Led which, bool lit) {
  MotePower* p = running_mote_if_on();
  const uint8_t bit = static_cast<uint8_t>(1u << which);
  if (p == nullptr || ((p->lit & bit) != 0) == lit) return;
  const vex_time_t at = now();
  if (lit) {
    p->lit |= bit;
    p->led_since[which] = at;
  } else {
    p->lit &= static_cast<uint8_t>(~bit);
    p->closed.led[which] += at - p->led_since[which];
  }
}

void adc_conversion() {
  MotePower* p = running_mote_if_on();
  if (p != nullptr) ++p->closed.adc_conversions;
}

Times times_of(int mote, vex_time_t at) { return closed_at(ledger[mote], at); }

}  // namespace power_ledger

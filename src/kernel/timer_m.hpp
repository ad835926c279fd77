#pragma once
// The timer service: 11 software timers per mote, one-shot or repeating,
// multiplexed onto the mote's one hardware clock (run at scale 3, so timer
// intervals count units of 3906 ticks, about 1/1024 s). The clock interval is
// reprogrammed so that the interrupt comes no later than the next expiry.

#include <array>
#include <cstdint>

#include "kernel/vex_types.hpp"

constexpr uint8_t TIMER_REPEAT = 0;
constexpr uint8_t TIMER_ONE_SHOT = 1;
using protocol::NUM_TIMERS;

// Timer ids, fixed by who uses them.
enum TimerId : uint8_t {
  TIMER_ACCEL_X = 0,
  TIMER_ACCEL_Y = 1,
  TIMER_LIGHT = 2,
  TIMER_MAG_X = 3,
  TIMER_MAG_Y = 4,
  TIMER_TEMP = 5,
  TIMER_VOICE = 6,
  TIMER_STAMP = 7,
  TIMER_EPOCH = 8,
  TIMER_ACTIVITY = 9,
  TIMER_PHOTO_TEMP = 10,
};

namespace TimerM {
struct timer_s {
  uint8_t type;
  int32_t ticks;      // period in counts
  int32_t ticksLeft;  // counts until expiry
};

struct Vars {
  uint32_t mState;  // bit i: timer i runs
  uint8_t setIntervalFlag;
  uint8_t mScale;
  uint8_t mInterval;
  std::array<uint8_t, NUM_TIMERS> queue;  // ring of ids whose fired is due
  int8_t queue_head;
  int8_t queue_tail;
  uint8_t queue_size;
  uint16_t interval_outstanding;  // counts elapsed, not yet charged to the timers
  std::array<timer_s, NUM_TIMERS> mTimerList;
  // HandleFire is queued and has not run yet. Lets the next clock interrupt
  // post it again when the task ring was full, so the timers never stall.
  bool handleFirePosted;
};
constexpr uint8_t maxTimerInterval = 230;

result_t StdControl_init();
result_t StdControl_start();
result_t StdControl_stop();
result_t Timer_start(uint8_t id, char type, uint32_t interval);
result_t Timer_stop(uint8_t id);
result_t Clock_fire();

// Who hears each timer: filled in by the component wiring. Ids without a
// handler fire into nothing.
using FiredHandler = result_t (*)();
void set_fired_handler(uint8_t id, FiredHandler handler);
result_t Timer_fired(uint8_t id);

Vars& vars();  // the running mote's timers
Vars& vars_of(int mote);
}  // namespace TimerM

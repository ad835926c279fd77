#include "kernel/timer_m.hpp"

#include "kernel/atomic.hpp"
#include "kernel/clock.hpp"
#include "kernel/dbg.hpp"
#include "kernel/per_mote.hpp"
#include "kernel/scheduler.hpp"

namespace TimerM {
namespace {
PerMote<Vars> timer_m;
std::array<FiredHandler, NUM_TIMERS> fired_handlers{};

void PowerManagement_adjustPower() {}

void enqueue(uint8_t id) {
  Vars& v = vars();
  if (v.queue_tail == NUM_TIMERS - 1) v.queue_tail = -1;
  ++v.queue_tail;
  ++v.queue_size;
  v.queue[v.queue_tail] = id;
}

uint8_t dequeue() {
  Vars& v = vars();
  if (v.queue_size == 0) return NUM_TIMERS;
  if (v.queue_head == NUM_TIMERS - 1) v.queue_head = -1;
  ++v.queue_head;
  --v.queue_size;
  return v.queue[v.queue_head];
}

void signalOneTimer() {
  uint8_t id = dequeue();
  if (id < NUM_TIMERS) Timer_fired(id);
}

void adjustInterval() {
  Vars& v = vars();
  if (v.mState == 0) {
    uint8_t atomic = __quil_atomic_start();
    v.mInterval = maxTimerInterval;
    HPLClock::Clock_setInterval(maxTimerInterval);
    __quil_atomic_end(atomic);
  } else {
    int32_t soonest = maxTimerInterval;
    for (int i = 0; i < NUM_TIMERS; ++i) {
      if ((v.mState & (1u << i)) && v.mTimerList[i].ticksLeft < soonest) {
        soonest = v.mTimerList[i].ticksLeft;
      }
    }
    // A timer already overdue is due now, not 256 counts from now.
    if (soonest < 0) soonest = 0;
    auto next = static_cast<uint8_t>(soonest);
    uint8_t atomic = __quil_atomic_start();
    auto earliest = static_cast<uint8_t>(HPLClock::Clock_readCounter() + 3);
    if (next < earliest) next = earliest;
    v.mInterval = next;
    HPLClock::Clock_setInterval(next);
    __quil_atomic_end(atomic);
  }
  v.setIntervalFlag = 0;
  PowerManagement_adjustPower();
}

void HandleFire() {
  Vars& v = vars();
  v.setIntervalFlag = 1;
  uint8_t atomic = __quil_atomic_start();
  int32_t elapsed = v.interval_outstanding;
  v.interval_outstanding = 0;
  v.handleFirePosted = false;
  __quil_atomic_end(atomic);

  for (int i = 0; i < NUM_TIMERS; ++i) {
    if (!(v.mState & (1u << i))) continue;
    timer_s& timer = v.mTimerList[i];
    timer.ticksLeft -= elapsed;
    if (timer.ticksLeft > 2) continue;
    if (VEX_post(signalOneTimer) == SUCCESS) {
      if (timer.type == TIMER_REPEAT) {
        timer.ticksLeft += timer.ticks;
      } else {
        v.mState &= ~(1u << i);
      }
      enqueue(static_cast<uint8_t>(i));
    } else {
      dbg(DBG_ERROR, "TimerM: Have to wait another timer interval.\n");
      timer.ticksLeft = v.mInterval;
    }
  }
  atomic = __quil_atomic_start();
  bool caught_up = v.interval_outstanding == 0;
  __quil_atomic_end(atomic);
  if (caught_up) adjustInterval();
}
}  // namespace

Vars& vars() { return timer_m(); }
Vars& vars_of(int mote) { return timer_m.of(mote); }

void set_fired_handler(uint8_t id, FiredHandler handler) {
  if (id < NUM_TIMERS) fired_handlers[id] = handler;
}

result_t Timer_fired(uint8_t id) {
  if (id >= NUM_TIMERS || fired_handlers[id] == nullptr) return SUCCESS;
  return fired_handlers[id]();
}

result_t StdControl_init() {
  Vars& v = vars();
  v.mState = 0;
  v.setIntervalFlag = 0;
  v.queue_head = v.queue_tail = -1;
  v.queue_size = 0;
  v.mScale = 3;
  v.mInterval = maxTimerInterval;
  return HPLClock::Clock_setRate(v.mInterval, v.mScale);
}

result_t StdControl_start() { return SUCCESS; }

result_t StdControl_stop() {
  Vars& v = vars();
  v.mState = 0;
  v.mInterval = maxTimerInterval;
  v.setIntervalFlag = 0;
  return SUCCESS;
}

result_t Timer_start(uint8_t id, char type, uint32_t interval) {
  if (id >= NUM_TIMERS) return FAIL;
  auto kind = static_cast<uint8_t>(type);
  if (kind > TIMER_ONE_SHOT) return FAIL;
  if (kind == TIMER_REPEAT && interval <= 2) return FAIL;
  Vars& v = vars();
  timer_s& timer = v.mTimerList[id];
  timer.ticks = static_cast<int32_t>(interval);
  timer.type = kind;
  uint8_t atomic = __quil_atomic_start();
  uint8_t counter = HPLClock::Clock_readCounter();
  timer.ticksLeft = static_cast<int32_t>(interval + counter);
  v.mState |= 1u << id;
  if (interval + counter < v.mInterval) {
    v.mInterval = static_cast<uint8_t>(interval + counter);
    HPLClock::Clock_setInterval(v.mInterval);
    v.setIntervalFlag = 0;
    PowerManagement_adjustPower();
  }
  __quil_atomic_end(atomic);
  return SUCCESS;
}

result_t Timer_stop(uint8_t id) {
  if (id >= NUM_TIMERS) return FAIL;
  Vars& v = vars();
  if (!(v.mState & (1u << id))) return FAIL;
  uint8_t atomic = __quil_atomic_start();
  v.mState &= ~(1u << id);
  __quil_atomic_end(atomic);
  if (v.mState == 0) v.setIntervalFlag = 1;
  return SUCCESS;
}

result_t Clock_fire() {
  Vars& v = vars();
  uint8_t atomic = __quil_atomic_start();
  if (!v.handleFirePosted) {
    // Normally interval_outstanding is 0 here; after a failed post it holds
    // the counts the timers still have to be charged with.
    if (VEX_post(HandleFire) == SUCCESS) v.handleFirePosted = true;
  } else {
    dbg(DBG_ERROR, "Don't post handle fire, we're not ready\n");
  }
  v.interval_outstanding += HPLClock::Clock_getInterval() + 1;
  __quil_atomic_end(atomic);
  return SUCCESS;
}
}  // namespace TimerM

#pragma once
// The one word the simulation thread reads each pass of its main loop to
// learn whether any other thread wants something of it: a ^C, a request to
// serve, a pause, a rate change, events waiting in the queue's inbox. So a
// quiet pass costs one load instead of a poll per source.
//
// Each source keeps its own flag as the truth and raises its bit here after
// setting that flag. The simulation thread takes the whole word (clearing
// it) before it looks at the flags, so a bit raised while it looks stays
// raised for the next pass and nothing is missed.

#include <atomic>
#include <cstdint>

namespace attention {

enum Reason : uint32_t {
  sigint = 1u << 0,
  request = 1u << 1,  // a control thread's request (kernel/sim_requests.hpp)
  pause = 1u << 2,
  rate = 1u << 3,     // a new rate from the command thread
  inbox = 1u << 4,    // events a control thread handed to the queue
};

namespace detail {
extern std::atomic<uint32_t> word;
}

// Any thread, after setting the flag the reason stands for.
inline void raise(Reason why) { detail::word.fetch_or(why, std::memory_order_release); }

// Simulation thread: whether anything was raised since the last take().
inline bool raised() { return detail::word.load(std::memory_order_acquire) != 0; }

// Simulation thread: clears the word and returns what was raised.
inline uint32_t take() { return detail::word.exchange(0, std::memory_order_acq_rel); }

}  // namespace attention

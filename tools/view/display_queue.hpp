#pragma once
// The events waiting to be sent to one open page, bounded so that a slow
// page (or a closed tab whose connection has not failed yet) never makes
// the view hold up the simulation or grow without end.
//
// The event pump pushes and never waits; the page's connection takes
// everything pending in one go. While fewer than `capacity` events wait,
// every event is kept in order. Once `capacity` are waiting the page is
// not keeping up, and the queue coalesces:
//   - an LED change replaces the one already waiting for that mote (the
//     page sees each mote's latest LEDs, never a stale state);
//   - a clock tick replaces the one waiting;
//   - radio, serial and debug events are dropped and counted; the page
//     hears the count as a `coalesced` event before the next batch;
//   - results and power changes are kept up to 4 x capacity (they are few
//     and matter most), and only dropped and counted beyond.

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <mutex>
#include <optional>
#include <string>

namespace brelo_view {

enum class DisplayKind { led, radio, serial, debug, result, power, clock };

// One event as the page receives it: its kind, its mote (-1: none) and its
// Server-Sent Events text ("event: led\ndata: {...}\n\n").
struct DisplayEvent {
  DisplayKind kind = DisplayKind::debug;
  int mote = -1;
  std::string text;
};

class DisplayQueue {
 public:
  explicit DisplayQueue(std::size_t capacity = 512) : capacity_(capacity) {}

  void push(DisplayEvent event);
  // Everything waiting, as one text (a `coalesced` event first when some
  // were dropped); empty when nothing came within `wait`; nullopt once
  // closed.
  std::optional<std::string> take(std::chrono::milliseconds wait);
  void close();

  // Events dropped since the page last took its batch.
  int64_t dropped() const;

 private:
  bool replace_waiting(const DisplayEvent& event);

  const std::size_t capacity_;
  mutable std::mutex mutex_;
  std::condition_variable ready_;
  std::deque<DisplayEvent> waiting_;
  int64_t dropped_ = 0;
  bool closed_ = false;
};

}  // namespace brelo_view

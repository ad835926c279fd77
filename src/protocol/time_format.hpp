#pragma once
// Virtual time: its tick rate, and the clock text debug lines and host
// tools print it in.

#include <cstddef>
#include <cstdint>
#include <cstdio>

constexpr int64_t TICKS_PER_SECOND = 4000000;

namespace protocol {
// A sensor stream's rate counts the motes' timer units, about 1/1024 s each.
constexpr double TIMER_COUNTS_PER_SECOND = 1024.0;
}  // namespace protocol

namespace protocol {
// "hours:minutes:seconds.fraction", the fraction in units of 10 ns (eight
// digits), e.g. 0:0:2.98140300.
inline void format_clock(char* buf, std::size_t size, int64_t ticks) {
  int seconds = static_cast<int>(ticks / TICKS_PER_SECOND);
  auto rest = static_cast<int>(ticks % TICKS_PER_SECOND);
  int minutes = seconds / 60;
  int hours = minutes / 60;
  seconds %= 60;
  minutes %= 60;
  std::snprintf(buf, size, "%i:%i:%i.%08i", hours, minutes, seconds, rest * 25);
}
}  // namespace protocol

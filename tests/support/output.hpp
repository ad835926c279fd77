#pragma once
// What simulator code prints to standard output.

#include <gtest/gtest.h>

#include <cstdio>
#include <string>

#include "kernel/dbg.hpp"

namespace support {

// Runs `action` with the debug modes `modes` on and returns what it printed;
// the modes are all off again afterwards.
template <typename F>
std::string output_of(VEX_dbg_mode modes, F&& action) {
  dbg_set(modes);
  testing::internal::CaptureStdout();
  action();
  std::fflush(stdout);
  std::string text = testing::internal::GetCapturedStdout();
  dbg_set(DBG_NONE);
  return text;
}

// How often `piece` occurs in `text`, overlaps included.
inline int count_of(const std::string& text, const std::string& piece) {
  int n = 0;
  for (std::size_t at = text.find(piece); at != std::string::npos; at = text.find(piece, at + 1))
    ++n;
  return n;
}

}  // namespace support

// Fuzzes the debug-mode names (the DBG variable and its pieces) and the
// rendering of virtual times in debug lines.

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>

#include "kernel/dbg.hpp"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
  const std::string text(reinterpret_cast<const char*>(data), size);
  dbg_set(DBG_NONE);
  dbg_add_modes(text.c_str());  // up to the first NUL, as from the environment
  if (size > 0 && data[0] == '-') dbg_add_mode(text.c_str());

  vex_time_t ticks = 0;
  std::memcpy(&ticks, data, size < sizeof ticks ? size : sizeof ticks);
  char line[64];
  printOtherTime(line, sizeof line, ticks);
  return 0;
}

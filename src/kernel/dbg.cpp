#include "kernel/dbg.hpp"

#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "kernel/client_events.hpp"
#include "kernel/vex_state.hpp"
#include "protocol/time_format.hpp"

namespace {
void emit(bool with_prefix, VEX_dbg_mode mode, const char* format, va_list args) {
  if ((mode & DBG_SIM) == 0 && client_events_wanted()) {
    char line[DBG_CLIENT_LINE_SIZE] = {};
    va_list copy;
    va_copy(copy, args);
    std::vsnprintf(line, sizeof line, format, copy);
    va_end(copy);
    sendVarnixEvent(static_cast<uint16_t>(vex_state.current_node.load()), AM_DEBUGMSGEVENT,
                    vex_state.vex_time, line, sizeof line);
  }
  if (dbg_suppress_stdout) return;
  // One lock around prefix and line so a control thread's line cannot split them.
  flockfile(stdout);
  if (with_prefix) std::fprintf(stdout, "%i: ", static_cast<int>(vex_state.current_node.load()));
  std::vfprintf(stdout, format, args);
  funlockfile(stdout);
}
}  // namespace


RelaxedAtomic<VEX_dbg_mode> dbg_modes{0};
RelaxedAtomic<bool> dbg_suppress_stdout{false};

void dbg_init() {
  dbg_modes = 0;
  const char* env = std::getenv("DBG");
  if (env == nullptr) {
    dbg_modes = DBG_ALL;
    return;
  }
  dbg_add_modes(env);
}

void dbg_add_modes(const char* text) {
  // The whole value is used whatever its length; empty pieces are skipped.
  std::string value(text);
  std::size_t start = 0;
  while (start <= value.size()) {
    std::size_t comma = value.find(',', start);
    if (comma == std::string::npos) comma = value.size();
    if (comma > start) dbg_add_mode(value.substr(start, comma - start).c_str());
    start = comma + 1;
  }
}

void dbg_add_mode(const char* name) {
  bool cancel = false;
  if (name[0] == '-') {
    cancel = true;
    ++name;
  }
  for (const VEX_dbg_mode_names* entry = dbg_nametab; entry->d_name != nullptr; ++entry) {
    if (std::strcmp(entry->d_name, name) == 0) {
      auto mode = static_cast<VEX_dbg_mode>(entry->d_mode);
      dbg_modes = cancel ? (dbg_modes & ~mode) : (dbg_modes | mode);
      return;
    }
  }
  std::fprintf(stderr, "Warning: Unknown debug option: \"%s\"\n", name);
}

void dbg_help() {
  std::fputs("Known dbg modes: ", stdout);
  for (const VEX_dbg_mode_names* entry = dbg_nametab; entry->d_name != nullptr; ++entry) {
    if (entry != dbg_nametab) std::fputs(", ", stdout);
    std::fputs(entry->d_name, stdout);
  }
  std::fputs("\n", stdout);
}

void dbg_set(VEX_dbg_mode modes) { dbg_modes = modes; }

void dbg_print(VEX_dbg_mode mode, const char* format, ...) {
  va_list args;
  va_start(args, format);
  emit(true, mode, format, args);
  va_end(args);
}

void dbg_clear_print(VEX_dbg_mode mode, const char* format, ...) {
  va_list args;
  va_start(args, format);
  emit(false, mode, format, args);
  va_end(args);
}

void printOtherTime(char* buf, std::size_t size, vex_time_t ticks) {
  protocol::format_clock(buf, size, ticks);
}

void printTime(char* buf, std::size_t size) { printOtherTime(buf, size, vex_state.vex_time); }

const char* currentTime() {
  thread_local char text[128];
  printTime(text, sizeof text);
  return text;
}

#include "kernel/dbg.hpp"

#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "kernel/client_events.hpp"
#include "kernel/vex_state.hpp"

namespace {
constexpr uint64_t E = static_cast<uint64_t>(DBG_ERROR);

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

const VEX_dbg_mode_names dbg_nametab[] = {
    {"all", ~0ULL},
    {"boot", DBG_BOOT | E},
    {"clock", DBG_CLOCK | E},
    {"task", DBG_TASK | E},
    {"sched", DBG_SCHED | E},
    {"sensor", DBG_SENSOR | E},
    {"led", DBG_LED | E},
    {"crypto", DBG_CRYPTO | E},
    {"route", DBG_ROUTE | E},
    {"am", DBG_AM | E},
    {"crc", DBG_CRC | E},
    {"packet", DBG_PACKET | E},
    {"encode", DBG_ENCODE | E},
    {"radio", DBG_RADIO | E},
    {"logger", DBG_LOG | E},
    {"adc", DBG_ADC | E},
    {"i2c", DBG_I2C | E},
    {"uart", DBG_UART | E},
    {"prog", DBG_PROG | E},
    {"sounder", DBG_SOUNDER | E},
    {"time", DBG_TIME | E},
    {"power", DBG_POWER | E},
    {"sim", DBG_SIM | E},
    {"queue", DBG_QUEUE | E},
    {"simradio", DBG_SIMRADIO | E},
    {"hardware", DBG_HARD | E},
    {"simmem", DBG_MEM | E},
    {"usr1", DBG_USR1 | E},
    {"usr2", DBG_USR2 | E},
    {"usr3", DBG_USR3 | E},
    {"temp", DBG_TEMP | E},
    {"error", E},
    {"none", 0},
    {nullptr, 0},
};

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
  int seconds = static_cast<int>(ticks / TICKS_PER_SECOND);
  auto rest = static_cast<int>(ticks % TICKS_PER_SECOND);
  int minutes = seconds / 60;
  int hours = minutes / 60;
  seconds %= 60;
  minutes %= 60;
  std::snprintf(buf, size, "%i:%i:%i.%08i", hours, minutes, seconds, rest * 25);
}

void printTime(char* buf, std::size_t size) { printOtherTime(buf, size, vex_state.vex_time); }

const char* currentTime() {
  thread_local char text[128];
  printTime(text, sizeof text);
  return text;
}

#pragma once
// Debug output. Every diagnostic line of the simulator and of the component
// code goes through dbg (with the running mote's id in front) or dbg_clear
// (without it). A line is produced only when one of its mode bits is enabled;
// the test happens before any argument is formatted, so disabled lines on the
// per-bit and per-sample paths cost one load and one branch.

#include <atomic>
#include <cstddef>
#include <cstdint>

#include "kernel/relaxed_atomic.hpp"
#include "kernel/vex_types.hpp"

using VEX_dbg_mode = int64_t;

constexpr VEX_dbg_mode DBG_NONE = 0;
constexpr VEX_dbg_mode DBG_BOOT = 1LL << 0;
constexpr VEX_dbg_mode DBG_CLOCK = 1LL << 1;
constexpr VEX_dbg_mode DBG_TASK = 1LL << 2;
constexpr VEX_dbg_mode DBG_SCHED = 1LL << 3;
constexpr VEX_dbg_mode DBG_SENSOR = 1LL << 4;
constexpr VEX_dbg_mode DBG_LED = 1LL << 5;
constexpr VEX_dbg_mode DBG_CRYPTO = 1LL << 6;
constexpr VEX_dbg_mode DBG_ROUTE = 1LL << 7;
constexpr VEX_dbg_mode DBG_AM = 1LL << 8;
constexpr VEX_dbg_mode DBG_CRC = 1LL << 9;
constexpr VEX_dbg_mode DBG_PACKET = 1LL << 10;
constexpr VEX_dbg_mode DBG_ENCODE = 1LL << 11;
constexpr VEX_dbg_mode DBG_RADIO = 1LL << 12;
constexpr VEX_dbg_mode DBG_LOG = 1LL << 13;
constexpr VEX_dbg_mode DBG_ADC = 1LL << 14;
constexpr VEX_dbg_mode DBG_I2C = 1LL << 15;
constexpr VEX_dbg_mode DBG_UART = 1LL << 16;
constexpr VEX_dbg_mode DBG_PROG = 1LL << 17;
constexpr VEX_dbg_mode DBG_SOUNDER = 1LL << 18;
constexpr VEX_dbg_mode DBG_TIME = 1LL << 19;
constexpr VEX_dbg_mode DBG_POWER = 1LL << 20;
constexpr VEX_dbg_mode DBG_SIM = 1LL << 21;
constexpr VEX_dbg_mode DBG_QUEUE = 1LL << 22;
constexpr VEX_dbg_mode DBG_SIMRADIO = 1LL << 23;
constexpr VEX_dbg_mode DBG_HARD = 1LL << 24;
constexpr VEX_dbg_mode DBG_MEM = 1LL << 25;
// bit 26 has no name
constexpr VEX_dbg_mode DBG_USR1 = 1LL << 27;
constexpr VEX_dbg_mode DBG_USR2 = 1LL << 28;
constexpr VEX_dbg_mode DBG_USR3 = 1LL << 29;
constexpr VEX_dbg_mode DBG_TEMP = 1LL << 30;
constexpr VEX_dbg_mode DBG_ERROR = 1LL << 31;
constexpr VEX_dbg_mode DBG_ALL = ~0LL;
constexpr VEX_dbg_mode DBG_DEFAULT = DBG_ALL;

// One entry of the table of mode names; the table ends with d_name == nullptr.
struct VEX_dbg_mode_names {
  const char* d_name;
  uint64_t d_mode;
};
extern const VEX_dbg_mode_names dbg_nametab[];

// Debug lines reach control clients as events of this type, with a
// zero-padded payload of DBG_CLIENT_LINE_SIZE bytes (see client_events.hpp).
constexpr uint16_t AM_DEBUGMSGEVENT = 1;
constexpr std::size_t DBG_CLIENT_LINE_SIZE = 512;

extern RelaxedAtomic<VEX_dbg_mode> dbg_modes;
extern RelaxedAtomic<bool> dbg_suppress_stdout;

void dbg_init();                      // from the DBG environment variable
void dbg_add_modes(const char* text);  // comma-separated names, any length
void dbg_add_mode(const char* name);   // one name, "-" in front cancels it
void dbg_help();
void dbg_set(VEX_dbg_mode modes);

inline bool dbg_active(VEX_dbg_mode mode) { return (mode & dbg_modes.load()) != 0; }

// The formatters behind dbg and dbg_clear; call them through the macros.
void dbg_print(VEX_dbg_mode mode, const char* format, ...) __attribute__((format(printf, 2, 3)));
void dbg_clear_print(VEX_dbg_mode mode, const char* format, ...)
    __attribute__((format(printf, 2, 3)));

// Macros so that the arguments are not even evaluated when the mode is off.
#define dbg(mode, ...) (dbg_active(mode) ? dbg_print((mode), __VA_ARGS__) : (void)0)
#define dbg_clear(mode, ...) (dbg_active(mode) ? dbg_clear_print((mode), __VA_ARGS__) : (void)0)

// Virtual time as "hours:minutes:seconds.fraction" (fraction in 10 ns units).
void printOtherTime(char* buf, std::size_t size, vex_time_t ticks);
void printTime(char* buf, std::size_t size);  // the current virtual time
const char* currentTime();                    // per-thread buffer, overwritten by each call

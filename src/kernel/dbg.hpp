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
#include "protocol/debug_modes.hpp"


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

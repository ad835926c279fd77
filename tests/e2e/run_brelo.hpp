#pragma once
// Helpers for running the built brelo binary and reading what it printed.

#include <chrono>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

#include "process.hpp"

namespace e2e {

// The name brelo sees as argv[0]; usage and help lines repeat it.
inline constexpr const char* kProgramName = "brelo";

// The DBG variable of a run: unset, or set to a value (possibly empty).
// The child gets no other environment variable.
struct DbgEnv {
  std::optional<std::string> value;
};
inline DbgEnv dbg_unset() { return {}; }
inline DbgEnv dbg_set(std::string value) { return {std::move(value)}; }

inline constexpr std::chrono::milliseconds kRunTimeout{10000};

// Runs brelo with `args` (without argv[0]) to its end. A brelo that takes
// "-port=" gets a free pair of control ports in front of `args`, so that runs
// never wait for ports another brelo on this machine holds.
ProcessResult run_brelo(const std::vector<std::string>& args, const DbgEnv& dbg,
                        std::chrono::milliseconds timeout = kRunTimeout);

// Runs brelo with exactly `args`: for command lines refused before any port
// is opened, and for runs that must repeat one command line exactly (see
// with_free_ports).
ProcessResult run_brelo_verbatim(const std::vector<std::string>& args, const DbgEnv& dbg,
                                 std::chrono::milliseconds timeout = kRunTimeout);

// `args` with "-port=<a free port>" in front when this brelo takes that
// option, else `args` unchanged.
std::vector<std::string> with_free_ports(const std::vector<std::string>& args);

// Starts brelo like run_brelo and leaves it running.
std::unique_ptr<ChildProcess> start_brelo(const std::vector<std::string>& args,
                                          const DbgEnv& dbg);

// The lines of a text, without their line ends; a last line without an end
// counts too.
std::vector<std::string> lines_of(const std::string& text);

// The lines of `text` that contain `piece`, in order.
std::vector<std::string> lines_containing(const std::string& text, const std::string& piece);

// Empty when the texts are equal; otherwise names the first line where they
// differ and shows that line of each. (Cheap on texts of many megabytes,
// where a full diff would not be.)
std::string first_difference(const std::string& a, const std::string& b);

// The last `count` lines of a text, for failure messages.
std::string tail_of(const std::string& text, std::size_t count = 8);

// Success when `out` holds exactly one line "Simulation of <motes> motes
// completed." and no other completion line.
::testing::AssertionResult completed_once(const std::string& out, int motes);

// A virtual time in ticks (4,000,000 per second) as brelo prints it:
// hours:minutes:seconds.fraction, the fraction in eight digits of 10 ns.
// Written out independently so that a fault in brelo's formatter shows.
std::string format_ticks(int64_t ticks);

// The boot times brelo must give motes 0 .. count-1 for `seed` and a boot
// window of `window_seconds`: mote i boots at i + (rand() mod window ticks),
// drawn from the C library's generator seeded with `seed`, or at i when the
// window is 0. The window in ticks is a 64-bit value.
std::vector<int64_t> expected_boot_times(unsigned seed, int window_seconds, int count);

}  // namespace e2e

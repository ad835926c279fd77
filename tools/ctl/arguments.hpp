#pragma once
// Reading brelo-ctl's arguments: numbers, mote lists, byte strings, debug
// modes and event masks. Each parser returns nullopt for text it cannot
// read, with a reason in `why` when given.

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace brelo_ctl {

// A whole decimal number (or 0x hexadecimal) within [low, high].
std::optional<int64_t> parse_integer(const std::string& text, int64_t low, int64_t high);
// A finite decimal number within [low, high].
std::optional<double> parse_number(const std::string& text, double low, double high);

// Motes: "3", "0-4", "1,3,7-9" (ids below 1000, in the order given,
// duplicates removed), or "all" (then `all` is set and the list is empty).
std::optional<std::vector<uint16_t>> parse_motes(const std::string& text, bool* all,
                                                 std::string* why = nullptr);

// Bytes in hexadecimal: "0102ff", "01 02 ff", "01:02:ff".
std::optional<std::vector<uint8_t>> parse_hex(const std::string& text, std::string* why = nullptr);

// Debug modes: a number, or names as in the DBG variable ("boot,am",
// "all,-radio"), starting from no mode.
std::optional<int64_t> parse_dbg_modes(const std::string& text, std::string* why = nullptr);

// Event types: a number, or names ("debug,leds", "all", "none").
std::optional<uint16_t> parse_event_mask(const std::string& text, std::string* why = nullptr);

// Virtual seconds as ticks (4,000,000 per second), rounded.
int64_t seconds_to_ticks(double seconds);

}  // namespace brelo_ctl

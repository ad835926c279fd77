#include "ctl/arguments.hpp"

#include <cctype>
#include <cerrno>
#include <cmath>
#include <cstdlib>

#include "control/wire/gui_msg.hpp"
#include "ctl/event_format.hpp"
#include "protocol/debug_modes.hpp"
#include "protocol/time_format.hpp"

namespace brelo_ctl {
namespace {
std::vector<std::string> split(const std::string& text, char separator) {
  std::vector<std::string> pieces;
  std::size_t start = 0;
  for (;;) {
    std::size_t end = text.find(separator, start);
    pieces.push_back(
        text.substr(start, end == std::string::npos ? std::string::npos : end - start));
    if (end == std::string::npos) return pieces;
    start = end + 1;
  }
}

void say(std::string* why, std::string text) {
  if (why != nullptr) *why = std::move(text);
}
}  // namespace

std::optional<int64_t> parse_integer(const std::string& text, int64_t low, int64_t high) {
  if (text.empty() || std::isspace(static_cast<unsigned char>(text[0]))) return std::nullopt;
  errno = 0;
  char* end = nullptr;
  long long value = std::strtoll(text.c_str(), &end, 0);
  if (errno != 0 || end == text.c_str() || *end != '\0') return std::nullopt;
  if (value < low || value > high) return std::nullopt;
  return value;
}

std::optional<double> parse_number(const std::string& text, double low, double high) {
  if (text.empty() || std::isspace(static_cast<unsigned char>(text[0]))) return std::nullopt;
  char* end = nullptr;
  double value = std::strtod(text.c_str(), &end);
  if (end == text.c_str() || *end != '\0' || !std::isfinite(value)) return std::nullopt;
  if (value < low || value > high) return std::nullopt;
  return value;
}

std::optional<std::vector<uint16_t>> parse_motes(const std::string& text, bool* all,
                                                 std::string* why) {
  *all = false;
  if (text == "all") {
    *all = true;
    return std::vector<uint16_t>{};
  }
  std::vector<uint16_t> motes;
  std::vector<bool> seen(1000, false);
  for (const std::string& piece : split(text, ',')) {
    std::size_t dash = piece.find('-', 1);
    std::string first = piece.substr(0, dash);
    std::string last = dash == std::string::npos ? first : piece.substr(dash + 1);
    auto from = parse_integer(first, 0, 999);
    auto to = parse_integer(last, 0, 999);
    if (!from || !to || *to < *from) {
      say(why, "not a mote or a range of motes (0 to 999): \"" + piece + "\"");
      return std::nullopt;
    }
    for (int64_t mote = *from; mote <= *to; ++mote) {
      if (seen[mote]) continue;
      seen[mote] = true;
      motes.push_back(static_cast<uint16_t>(mote));
    }
  }
  return motes;
}

std::optional<std::vector<uint8_t>> parse_hex(const std::string& text, std::string* why) {
  std::string digits;
  for (char c : text) {
    if (c == ' ' || c == ':' || c == ',') continue;
    if (!std::isxdigit(static_cast<unsigned char>(c))) {
      say(why, std::string("not a hexadecimal digit: '") + c + "'");
      return std::nullopt;
    }
    digits += c;
  }
  if (digits.size() % 2 != 0) {
    say(why, "an odd number of hexadecimal digits");
    return std::nullopt;
  }
  std::vector<uint8_t> bytes;
  for (std::size_t i = 0; i < digits.size(); i += 2) {
    bytes.push_back(static_cast<uint8_t>(std::strtoul(digits.substr(i, 2).c_str(), nullptr, 16)));
  }
  return bytes;
}

std::optional<int64_t> parse_dbg_modes(const std::string& text, std::string* why) {
  if (auto number = parse_integer(text, INT64_MIN, INT64_MAX)) return number;
  // 0xFFFFFFFFFFFFFFFF and other unsigned spellings of all 64 bits.
  if (text.starts_with("0x") || text.starts_with("0X")) {
    errno = 0;
    char* end = nullptr;
    unsigned long long value = std::strtoull(text.c_str(), &end, 16);
    if (errno == 0 && *end == '\0' && end != text.c_str() + 2) return static_cast<int64_t>(value);
  }
  int64_t modes = 0;
  for (std::string name : split(text, ',')) {
    if (name.empty()) continue;
    bool cancel = name[0] == '-';
    if (cancel) name.erase(0, 1);
    const VEX_dbg_mode_names* entry = dbg_nametab;
    while (entry->d_name != nullptr && name != entry->d_name) ++entry;
    if (entry->d_name == nullptr) {
      say(why, "unknown debug mode \"" + name + "\"");
      return std::nullopt;
    }
    auto mode = static_cast<int64_t>(entry->d_mode);
    modes = cancel ? (modes & ~mode) : (modes | mode);
  }
  return modes;
}

std::optional<uint16_t> parse_event_mask(const std::string& text, std::string* why) {
  if (auto number = parse_integer(text, 0, 0xFFFF)) return static_cast<uint16_t>(*number);
  uint16_t mask = 0;
  for (const std::string& name : split(text, ',')) {
    if (name.empty()) continue;
    if (name == "all") {
      mask = ctl::ALL_EVENTS_MASK;
    } else if (name == "none") {
      mask = 0;
    } else if (auto type = event_type_of(name)) {
      mask = static_cast<uint16_t>(mask | *type);
    } else {
      say(why, "unknown event type \"" + name + "\"");
      return std::nullopt;
    }
  }
  return mask;
}

int64_t seconds_to_ticks(double seconds) {
  return static_cast<int64_t>(std::llround(seconds * static_cast<double>(TICKS_PER_SECOND)));
}

}  // namespace brelo_ctl

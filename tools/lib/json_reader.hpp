#pragma once
// A small JSON reader for the files the simulator writes (the statistics
// file of -stats=). It reads the whole of RFC 8259 except that \u escapes
// outside ASCII become '?': the simulator writes only ASCII.

#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace brelo_host {

struct JsonValue {
  enum class Kind { null, boolean, number, string, array, object };
  Kind kind = Kind::null;
  bool boolean = false;
  double number = 0;
  std::string text;
  std::vector<JsonValue> items;                           // of an array
  std::vector<std::pair<std::string, JsonValue>> members;  // of an object, in order

  // The member named `key` of an object; nullptr when there is none.
  const JsonValue* find(std::string_view key) const;
  // The number `key` names, or `fallback` when it is missing or not a number.
  double number_at(std::string_view key, double fallback = 0) const;
};

// The value of a whole text; nullopt, with the reason in `why`, when the
// text is not one JSON value.
std::optional<JsonValue> parse_json(std::string_view text, std::string& why);

}  // namespace brelo_host

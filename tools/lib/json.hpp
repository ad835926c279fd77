#pragma once
// JSON text for the tools' machine-readable output (events and results as
// JSON Lines). Every string that reaches JSON output goes through
// json_string, so the tools escape text one way.

#include <string>
#include <string_view>

namespace brelo_host {

// A text as a JSON string literal, quotes included. Quotes, backslashes and
// control characters are escaped; bytes outside printable ASCII are written
// as \u00XX of their byte value (the simulator's texts are ASCII).
std::string json_string(std::string_view text);

// One JSON object, members in the order they are added.
class JsonObject {
 public:
  // A member whose value is already JSON (a number, null, true, an object).
  JsonObject& raw(std::string_view key, std::string_view json);
  // A member whose value is a text.
  JsonObject& text(std::string_view key, std::string_view value);
  // The object, braces included.
  std::string str() const { return body_ + "}"; }

 private:
  std::string body_ = "{";
};

}  // namespace brelo_host

#include "lib/json.hpp"

#include <cstdio>

namespace brelo_host {

std::string json_string(std::string_view text) {
  std::string out = "\"";
  for (unsigned char c : text) {
    switch (c) {
      case '"': out += "\\\""; break;
      case '\\': out += "\\\\"; break;
      case '\n': out += "\\n"; break;
      case '\r': out += "\\r"; break;
      case '\t': out += "\\t"; break;
      default:
        if (c < 0x20 || c >= 0x7F) {
          char escape[8];
          std::snprintf(escape, sizeof escape, "\\u%04x", c);
          out += escape;
        } else {
          out += static_cast<char>(c);
        }
    }
  }
  return out + "\"";
}

JsonObject& JsonObject::raw(std::string_view key, std::string_view json) {
  if (body_.size() > 1) body_ += ',';
  body_ += json_string(key);
  body_ += ':';
  body_ += json;
  return *this;
}

JsonObject& JsonObject::text(std::string_view key, std::string_view value) {
  return raw(key, json_string(value));
}

}  // namespace brelo_host

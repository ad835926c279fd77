#include "lib/json_reader.hpp"

#include <cctype>
#include <cstdlib>

namespace brelo_host {
namespace {

constexpr int MAX_DEPTH = 64;  // deeper nesting is refused, not recursed into

class Parser {
 public:
  explicit Parser(std::string_view text) : text_(text) {}

  std::optional<JsonValue> document(std::string& why) {
    JsonValue value;
    if (!parse_value(value, 0)) {
      why = error_ + " at byte " + std::to_string(at_);
      return std::nullopt;
    }
    skip_space();
    if (at_ != text_.size()) {
      why = "text after the value at byte " + std::to_string(at_);
      return std::nullopt;
    }
    return value;
  }

 private:
  bool fail(const char* what) {
    error_ = what;
    return false;
  }

  void skip_space() {
    while (at_ < text_.size() && (text_[at_] == ' ' || text_[at_] == '\t' || text_[at_] == '\n' ||
                                  text_[at_] == '\r')) {
      ++at_;
    }
  }

  bool literal(std::string_view word) {
    if (text_.substr(at_, word.size()) != word) return fail("unknown word");
    at_ += word.size();
    return true;
  }

  bool parse_value(JsonValue& value, int depth) {
    if (depth > MAX_DEPTH) return fail("nested too deeply");
    skip_space();
    if (at_ >= text_.size()) return fail("unexpected end");
    const char c = text_[at_];
    if (c == '{') return parse_object(value, depth);
    if (c == '[') return parse_array(value, depth);
    if (c == '"') {
      value.kind = JsonValue::Kind::string;
      return parse_string(value.text);
    }
    if (c == 't' || c == 'f') {
      value.kind = JsonValue::Kind::boolean;
      value.boolean = c == 't';
      return literal(c == 't' ? "true" : "false");
    }
    if (c == 'n') return literal("null");
    return parse_number(value);
  }

  bool parse_number(JsonValue& value) {
    const std::size_t start = at_;
    if (at_ < text_.size() && text_[at_] == '-') ++at_;
    while (at_ < text_.size() &&
           (std::isdigit(static_cast<unsigned char>(text_[at_])) || text_[at_] == '.' ||
            text_[at_] == 'e' || text_[at_] == 'E' || text_[at_] == '+' || text_[at_] == '-')) {
      ++at_;
    }
    const std::string digits(text_.substr(start, at_ - start));
    if (digits.empty() || digits == "-") return fail("expected a value");
    char* end = nullptr;
    value.kind = JsonValue::Kind::number;
    value.number = std::strtod(digits.c_str(), &end);
    if (*end != '\0') return fail("malformed number");
    return true;
  }

  bool parse_string(std::string& out) {
    ++at_;  // the opening quote
    while (at_ < text_.size()) {
      const char c = text_[at_++];
      if (c == '"') return true;
      if (static_cast<unsigned char>(c) < 0x20) return fail("control character in a string");
      if (c != '\\') {
        out += c;
        continue;
      }
      if (at_ >= text_.size()) break;
      const char e = text_[at_++];
      switch (e) {
        case '"': out += '"'; break;
        case '\\': out += '\\'; break;
        case '/': out += '/'; break;
        case 'b': out += '\b'; break;
        case 'f': out += '\f'; break;
        case 'n': out += '\n'; break;
        case 'r': out += '\r'; break;
        case 't': out += '\t'; break;
        case 'u': {
          if (at_ + 4 > text_.size()) return fail("short \\u escape");
          const std::string hex(text_.substr(at_, 4));
          char* end = nullptr;
          const long code = std::strtol(hex.c_str(), &end, 16);
          if (*end != '\0') return fail("malformed \\u escape");
          at_ += 4;
          out += code < 0x80 ? static_cast<char>(code) : '?';
          break;
        }
        default: return fail("unknown escape");
      }
    }
    return fail("unterminated string");
  }

  bool parse_array(JsonValue& value, int depth) {
    value.kind = JsonValue::Kind::array;
    ++at_;
    skip_space();
    if (at_ < text_.size() && text_[at_] == ']') {
      ++at_;
      return true;
    }
    for (;;) {
      value.items.emplace_back();
      if (!parse_value(value.items.back(), depth + 1)) return false;
      skip_space();
      if (at_ < text_.size() && text_[at_] == ',') {
        ++at_;
        continue;
      }
      if (at_ < text_.size() && text_[at_] == ']') {
        ++at_;
        return true;
      }
      return fail("expected ',' or ']'");
    }
  }

  bool parse_object(JsonValue& value, int depth) {
    value.kind = JsonValue::Kind::object;
    ++at_;
    skip_space();
    if (at_ < text_.size() && text_[at_] == '}') {
      ++at_;
      return true;
    }
    for (;;) {
      skip_space();
      if (at_ >= text_.size() || text_[at_] != '"') return fail("expected a member name");
      std::string key;
      if (!parse_string(key)) return false;
      skip_space();
      if (at_ >= text_.size() || text_[at_] != ':') return fail("expected ':'");
      ++at_;
      value.members.emplace_back(std::move(key), JsonValue{});
      if (!parse_value(value.members.back().second, depth + 1)) return false;
      skip_space();
      if (at_ < text_.size() && text_[at_] == ',') {
        ++at_;
        continue;
      }
      if (at_ < text_.size() && text_[at_] == '}') {
        ++at_;
        return true;
      }
      return fail("expected ',' or '}'");
    }
  }

  std::string_view text_;
  std::size_t at_ = 0;
  std::string error_;
};

}  // namespace

const JsonValue* JsonValue::find(std::string_view key) const {
  for (const auto& [name, value] : members) {
    if (name == key) return &value;
  }
  return nullptr;
}

double JsonValue::number_at(std::string_view key, double fallback) const {
  const JsonValue* value = find(key);
  return value != nullptr && value->kind == Kind::number ? value->number : fallback;
}

std::optional<JsonValue> parse_json(std::string_view text, std::string& why) {
  return Parser(text).document(why);
}

}  // namespace brelo_host

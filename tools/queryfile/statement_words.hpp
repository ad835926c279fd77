#pragma once
// The words of one statement of a query file: splitting a line into words
// and symbols ("->", ">=", ...), and taking them from the left with checks
// that throw a LineError saying what was expected.

#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <string>
#include <string_view>
#include <vector>

#include "protocol/limits.hpp"
#include "protocol/operators.hpp"  // MAX_FIELDS

namespace query_file {

using protocol::MAX_MOTES;

// A statement that cannot be read; the message says why.
struct LineError {
  std::string text;
};

inline std::string quoted(std::string_view word) { return "'" + std::string(word) + "'"; }

// Words and symbols of a line, spaces dropped.
std::vector<std::string> tokenize(std::string_view line);
// Letters, digits and '_', not starting with a digit.
bool is_identifier(const std::string& word);

// The words of one statement, taken from the left.
class Words {
 public:
  explicit Words(std::vector<std::string> tokens) : tokens_(std::move(tokens)) {}

  bool done() const { return at_ >= tokens_.size(); }
  const std::string& peek() const {
    static const std::string none;
    return done() ? none : tokens_[at_];
  }
  bool take_if(const std::string& word) {
    if (done() || tokens_[at_] != word) return false;
    ++at_;
    return true;
  }
  std::string take(const std::string& what) {
    if (done()) throw LineError{"missing " + what};
    return tokens_[at_++];
  }
  void expect(const std::string& word, const std::string& context) {
    if (done()) throw LineError{"missing " + quoted(word) + " " + context};
    if (tokens_[at_] != word) {
      throw LineError{"expected " + quoted(word) + " " + context + ", found " + quoted(tokens_[at_])};
    }
    ++at_;
  }
  int64_t integer(const std::string& what, int64_t low, int64_t high) {
    std::string word = take(what);
    int64_t value = 0;
    auto [end, ec] = std::from_chars(word.data(), word.data() + word.size(), value);
    if (ec != std::errc() || end != word.data() + word.size()) {
      throw LineError{what + " must be a whole number, not " + quoted(word)};
    }
    if (value < low || value > high) {
      throw LineError{what + " must be from " + std::to_string(low) + " to " +
                      std::to_string(high) + ", not " + word};
    }
    return value;
  }
  double number(const std::string& what, double low, double high) {
    std::string word = take(what);
    if (word.ends_with("s") && word.size() > 1) word.pop_back();  // "0.5s"
    double value = 0;
    auto [end, ec] = std::from_chars(word.data(), word.data() + word.size(), value);
    if (ec != std::errc() || end != word.data() + word.size() || !std::isfinite(value)) {
      throw LineError{what + " must be a number, not " + quoted(word)};
    }
    if (value < low || value > high) {
      char range[96];
      std::snprintf(range, sizeof range, " must be from %g to %g, not ", low, high);
      throw LineError{what + range + word};
    }
    return value;
  }
  uint16_t mote(const std::string& what) {
    return static_cast<uint16_t>(integer(what, 0, MAX_MOTES - 1));
  }
  uint8_t field(const std::string& what) {
    return static_cast<uint8_t>(integer(what, 0, protocol::MAX_FIELDS - 1));
  }
  std::string name(const std::string& what) {
    std::string word = take(what);
    if (!is_identifier(word)) {
      throw LineError{what + " must be a name (letters, digits, _), not " + quoted(word)};
    }
    return word;
  }
  void finish(const std::string& statement) {
    if (!done()) throw LineError{"unexpected " + quoted(peek()) + " at the end of " + statement};
  }

 private:
  std::vector<std::string> tokens_;
  std::size_t at_ = 0;
};

}  // namespace query_file

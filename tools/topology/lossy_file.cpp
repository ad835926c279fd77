#include "topology/lossy_file.hpp"

#include <charconv>
#include <cmath>
#include <cstdio>
#include <fstream>
#include <map>
#include <sstream>
#include <utility>

#include "protocol/limits.hpp"

namespace topology {
namespace {

// brelo collects each number into a 128-byte buffer and stops at a longer one.
constexpr std::size_t MAX_FIELD = 127;
constexpr int END = -1;

bool is_space(int c) { return c == ' ' || c == '\t' || c == '\n'; }
bool is_digit(int c) { return c >= '0' && c <= '9'; }
bool is_probability_char(int c) {
  return is_digit(c) || c == '.' || c == '-' || c == 'E' || c == 'e';
}

std::string describe(int c) {
  switch (c) {
    case END: return "the end of the file";
    case '\r': return "a carriage return (brelo reads line feeds only)";
    case '\n': return "the end of the line";
    case ' ': return "a space";
    case '\t': return "a tab";
    default: break;
  }
  if (c >= 0x20 && c < 0x7f) return "'" + std::string(1, static_cast<char>(c)) + "'";
  char code[16];
  std::snprintf(code, sizeof code, "byte 0x%02x", c);
  return code;
}

// A form mistake: brelo would stop reading here.
struct FormError {
  std::string text;
  bool stops_reading = true;  // false: brelo reads to here, and drops only this entry
};

class Reader {
 public:
  Reader(std::string_view text, const std::string& name) : text_(text), name_(name) {}

  LossyRead read() {
    try {
      for (;;) {
        while (is_space(peek())) take();
        if (peek() == END) break;
        entry();
      }
    } catch (const FormError& error) {
      fail(line_, error.stops_reading ? error.text + "; brelo stops reading the file here"
                                      : error.text);
    }
    if (result_.errors.empty() && result_.links.empty()) {
      result_.errors.push_back({name_, 0, "no links: no mote would hear any other"});
    }
    return std::move(result_);
  }

 private:
  int peek() const { return at_ < text_.size() ? static_cast<unsigned char>(text_[at_]) : END; }
  int take() {
    int c = peek();
    if (c == '\n') ++line_;
    if (c != END) ++at_;
    return c;
  }
  void fail(int line, std::string text) { result_.errors.push_back({name_, line, std::move(text)}); }

  std::string field(bool (*fits)(int), const char* what) {
    std::string value;
    while (fits(peek())) {
      if (value.size() == MAX_FIELD) {
        throw FormError{std::string(what) + " is longer than " + std::to_string(MAX_FIELD) +
                        " characters"};
      }
      value.push_back(static_cast<char>(take()));
    }
    return value;
  }

  int mote(const std::string& digits, const char* what, int line) {
    int value = 0;
    auto [end, ec] = std::from_chars(digits.data(), digits.data() + digits.size(), value);
    if (ec != std::errc() || end != digits.data() + digits.size() || value >= protocol::MAX_MOTES) {
      fail(line, std::string(what) + " " + digits + " is not a mote: ids are 0 to " +
                     std::to_string(protocol::MAX_MOTES - 1));
      return -1;
    }
    return value;
  }

  void entry() {
    const int line = line_;
    std::string sender = field(is_digit, "the sending mote");
    if (sender.empty()) throw FormError{"expected a sending mote (digits), found " + describe(peek())};
    if (peek() != ':') {
      throw FormError{"expected ':' right after the sending mote " + sender + ", found " +
                      describe(peek())};
    }
    take();
    std::string receiver = field(is_digit, "the receiving mote");
    if (receiver.empty()) {
      throw FormError{"expected the receiving mote (digits) after '" + sender + ":', found " +
                      describe(peek())};
    }
    if (peek() != ':' && !is_space(peek())) {
      throw FormError{"expected ':' or one space after the receiving mote " + receiver +
                      ", found " + describe(peek())};
    }
    take();
    std::string probability = field(is_probability_char, "the probability");
    if (probability.empty()) {
      throw FormError{"expected the probability right after the receiving mote " + receiver +
                      ", found " + describe(peek())};
    }
    if (peek() == END) {
      throw FormError{"the last entry has no line feed after it, so brelo would not use it",
                      false};
    }
    if (!is_space(peek())) {
      throw FormError{"expected a line feed after the probability " + probability + ", found " +
                      describe(peek())};
    }
    take();
    add(line, sender, receiver, probability);
  }

  void add(int line, const std::string& sender, const std::string& receiver,
           const std::string& probability) {
    int from = mote(sender, "the sending mote", line);
    int to = mote(receiver, "the receiving mote", line);
    double p = -1;
    auto [end, ec] = std::from_chars(probability.data(), probability.data() + probability.size(), p);
    bool number = ec == std::errc() && end == probability.data() + probability.size();
    if (!number || !(p >= 0.0 && p <= 1.0)) {
      fail(line, "the probability must be one number from 0 to 1, not '" + probability + "'");
      return;
    }
    if (from < 0 || to < 0) return;
    if (from == to) {
      fail(line, "a link from mote " + sender + " to itself (brelo skips it)");
      return;
    }
    auto [first, added] = first_line_.try_emplace({from, to}, line);
    if (!added) {
      fail(line, "the link " + sender + "->" + receiver + " is already listed on line " +
                     std::to_string(first->second) +
                     " (brelo would keep both, and both would carry the bits)");
      return;
    }
    result_.links.push_back({from, to, p, line});
  }

  std::string_view text_;
  const std::string& name_;
  std::size_t at_ = 0;
  int line_ = 1;
  std::map<std::pair<int, int>, int> first_line_;
  LossyRead result_;
};

}  // namespace

std::string lossy_file_text(const std::vector<Position>& positions, const DistanceModel& model) {
  std::string text;
  char entry[64];
  const int motes = static_cast<int>(positions.size());
  for (int from = 0; from < motes; ++from) {
    for (int to = 0; to < motes; ++to) {
      if (from == to) continue;
      double distance = std::hypot(positions[from].x - positions[to].x,
                                   positions[from].y - positions[to].y);
      // Decide on the value as written: one that reads back as 1 is no link.
      double written = std::round(bit_error_probability(model, distance) * 1e6) / 1e6;
      if (written >= 1.0) continue;
      std::snprintf(entry, sizeof entry, "%d:%d:%.6f\n", from, to, written);
      text += entry;
    }
  }
  return text;
}

LossyRead read_lossy_text(std::string_view text, const std::string& name) {
  return Reader(text, name).read();
}

LossyRead read_lossy_file(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) {
    LossyRead result;
    result.errors.push_back({path, 0, "cannot read the topology file"});
    return result;
  }
  std::stringstream text;
  text << in.rdbuf();
  return read_lossy_text(text.str(), path);
}

std::vector<FileError> motes_outside(const LossyRead& read, const std::string& name, int motes) {
  constexpr int LISTED = 5;
  std::vector<FileError> errors;
  int more = 0;
  for (const Link& link : read.links) {
    if (link.from < motes && link.to < motes) continue;
    if (static_cast<int>(errors.size()) == LISTED) {
      ++more;
      continue;
    }
    int outside = link.from >= motes ? link.from : link.to;
    errors.push_back({name, link.line,
                      "the link " + std::to_string(link.from) + "->" + std::to_string(link.to) +
                          " names mote " + std::to_string(outside) + ", which is not in the network of " +
                          std::to_string(motes) + " motes (0 to " + std::to_string(motes - 1) + ")"});
  }
  if (more > 0) {
    errors.push_back({name, 0, std::to_string(more) + " more " + (more == 1 ? "link names" : "links name") +
                                   " motes outside the network"});
  }
  return errors;
}

}  // namespace topology

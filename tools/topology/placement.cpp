#include "topology/placement.hpp"

#include <charconv>
#include <cmath>
#include <cstdio>
#include <map>
#include <random>

#include "protocol/limits.hpp"

namespace topology {
namespace {

std::vector<std::string_view> words_of(std::string_view line) {
  std::vector<std::string_view> words;
  std::size_t i = 0;
  while (i < line.size()) {
    while (i < line.size() && (line[i] == ' ' || line[i] == '\t' || line[i] == '\r')) ++i;
    std::size_t start = i;
    while (i < line.size() && line[i] != ' ' && line[i] != '\t' && line[i] != '\r') ++i;
    if (i > start) words.push_back(line.substr(start, i - start));
  }
  return words;
}

template <typename T>
std::optional<T> whole_value(std::string_view word) {
  T value{};
  auto [end, ec] = std::from_chars(word.data(), word.data() + word.size(), value);
  if (ec != std::errc() || end != word.data() + word.size()) return std::nullopt;
  return value;
}

}  // namespace

std::string format(const FileError& error) {
  if (error.line == 0) return error.file + ": " + error.text;
  return error.file + ":" + std::to_string(error.line) + ": " + error.text;
}

std::vector<Position> grid_placement(int columns, int rows, double spacing) {
  std::vector<Position> positions;
  for (int row = 0; row < rows; ++row) {
    for (int column = 0; column < columns; ++column) {
      positions.push_back({column * spacing, row * spacing});
    }
  }
  return positions;
}

std::vector<Position> random_placement(int motes, double width, double height, uint32_t seed) {
  // mt19937's output is fixed by the standard; the library's distributions
  // are not, so the scaling to the area is done here.
  std::mt19937 draw(seed);
  auto unit = [&draw] { return static_cast<double>(draw()) / 4294967296.0; };
  std::vector<Position> positions;
  for (int i = 0; i < motes; ++i) {
    double x = unit() * width;
    double y = unit() * height;
    positions.push_back({x, y});
  }
  return positions;
}

PlacementRead read_placement(std::string_view text, const std::string& name) {
  PlacementRead result;
  std::map<int, std::pair<Position, int>> motes;  // mote -> position, line
  int number = 0;
  while (!text.empty()) {
    std::size_t end = text.find('\n');
    std::string_view line = text.substr(0, end);
    text.remove_prefix(end == std::string_view::npos ? text.size() : end + 1);
    ++number;
    if (std::size_t hash = line.find('#'); hash != std::string_view::npos) line = line.substr(0, hash);
    std::vector<std::string_view> words = words_of(line);
    if (words.empty()) continue;
    auto fail = [&](std::string why) { result.errors.push_back({name, number, std::move(why)}); };
    if (words.size() != 3) {
      fail("expected 'mote x y' (three words), found " + std::to_string(words.size()));
      continue;
    }
    auto mote = whole_value<int>(words[0]);
    auto x = whole_value<double>(words[1]);
    auto y = whole_value<double>(words[2]);
    if (!mote || *mote < 0 || *mote >= protocol::MAX_MOTES) {
      fail("the mote must be a whole number from 0 to " + std::to_string(protocol::MAX_MOTES - 1) +
           ", not '" + std::string(words[0]) + "'");
      continue;
    }
    if (!x || !y || !std::isfinite(*x) || !std::isfinite(*y)) {
      fail("the position of mote " + std::to_string(*mote) + " must be two numbers (metres)");
      continue;
    }
    auto [at, added] = motes.try_emplace(*mote, Position{*x, *y}, number);
    if (!added) {
      fail("mote " + std::to_string(*mote) + " is already placed on line " +
           std::to_string(at->second.second));
    }
  }
  if (!result.errors.empty()) return result;
  if (motes.empty()) {
    result.errors.push_back({name, 0, "no motes placed"});
    return result;
  }
  // Mote ids are table indexes: the network is motes 0 to the highest.
  int expected = 0;
  for (const auto& [mote, placed] : motes) {
    if (mote != expected) {
      result.errors.push_back({name, 0, "mote " + std::to_string(expected) +
                                            " is not placed (every mote from 0 to " +
                                            std::to_string(motes.rbegin()->first) +
                                            " needs a line)"});
      return result;
    }
    result.positions.push_back(placed.first);
    ++expected;
  }
  return result;
}

std::string placement_text(const std::vector<Position>& positions) {
  std::string text;
  char line[96];
  for (std::size_t i = 0; i < positions.size(); ++i) {
    std::snprintf(line, sizeof line, "%zu %g %g\n", i, positions[i].x, positions[i].y);
    text += line;
  }
  return text;
}

}  // namespace topology

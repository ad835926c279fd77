#pragma once
// Where the motes of a network stand: mote i at positions[i], in metres.
// A placement comes from a grid, from random draws in an area, or from a
// positions file ("mote x y" per line, every mote from 0 up named once).

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace topology {

struct Position {
  double x = 0;
  double y = 0;
};

// A mistake in a positions file: where, and what.
struct FileError {
  std::string file;
  int line = 0;  // 0: the file as a whole
  std::string text;
};
// "file:line: text" ("file: text" for line 0)
std::string format(const FileError& error);

// Mote id = column + row * columns, rows `spacing` metres apart.
std::vector<Position> grid_placement(int columns, int rows, double spacing);

// `motes` positions drawn uniformly in [0, width] x [0, height]; the same
// seed gives the same placement on every machine.
std::vector<Position> random_placement(int motes, double width, double height, uint32_t seed);

struct PlacementRead {
  std::vector<Position> positions;
  std::vector<FileError> errors;
};
// Reads the text of a positions file named `name`: "mote x y" lines, '#'
// starting a comment, blank lines allowed. Motes must be 0 to 999, each named
// once, with none missing below the highest.
PlacementRead read_placement(std::string_view text, const std::string& name);

// The placement as a positions file, one "mote x y" line per mote.
std::string placement_text(const std::vector<Position>& positions);

}  // namespace topology

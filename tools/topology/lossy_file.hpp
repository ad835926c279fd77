#pragma once
// The lossy-link file brelo reads under its lossy radio model (-rf=FILE):
// one directed link per entry, "FROM:TO:P" or "FROM:TO P", each ended by a
// line feed (a space or tab also ends an entry, so several may share a
// line), P being the probability that a bit from FROM reaches TO flipped.
// A pair that is not listed has no link: TO hears nothing from FROM.
//
// brelo stops reading at the first character that does not fit and uses
// the entries before it without a word, and it drops a last entry that no
// line feed ends. The reader here accepts exactly what brelo would use in
// full and refuses everything else with its line, so that a file that
// passes it means to brelo what it says.

#include <string>
#include <string_view>
#include <vector>

#include "topology/distance_model.hpp"
#include "topology/placement.hpp"

namespace topology {

struct Link {
  int from = 0;
  int to = 0;
  double probability = 0;
  int line = 0;  // where the file names it
};

// The links between every pair of `positions`, both directions, by the
// distance model, in the file's form: probabilities to six decimals, pairs
// that round to 1 left out.
std::string lossy_file_text(const std::vector<Position>& positions, const DistanceModel& model);

struct LossyRead {
  std::vector<Link> links;
  std::vector<FileError> errors;
};
// Reads the text of a lossy file named `name`. Refuses, each with its line:
// anything brelo would stop at (a carriage return, '#', a missing ':', a
// space where a number belongs), a field longer than brelo reads, an empty
// mote id, a mote id above 999, a probability that is not one number from 0
// to 1, a link from a mote to itself, a link listed twice, a last entry with
// no line feed after it, and a file without links.
LossyRead read_lossy_text(std::string_view text, const std::string& name);

// Reads the file at `path`; a missing or unreadable file is an error.
LossyRead read_lossy_file(const std::string& path);

// Links that name a mote outside a network of `motes` motes, with their
// lines; the first few are listed, the rest counted.
std::vector<FileError> motes_outside(const LossyRead& read, const std::string& name, int motes);

}  // namespace topology

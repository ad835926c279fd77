#pragma once
// Sections that run on several motes at once: `on motes 1-19`,
// `on motes 1,3,5-9`, `on motes all`, `on motes all except 0`. The reader
// collects the statements of such a section once; when the whole file is
// read, each section becomes one part per mote, with the same streams and
// operators and the lines they were written on, so every later message
// points at the line the user wrote. A part that a section shares with an
// `on mote M` section of the same query is continued, not duplicated.
//
// `all` means every mote of the network, so it is expanded last, once the
// network size is known: `motes N`, or else one more than the highest mote
// the file names (network_size below, which the compiler uses too).

#include <cstddef>
#include <cstdint>
#include <deque>
#include <string>
#include <string_view>
#include <vector>

#include "queryfile/query_file.hpp"

namespace query_file {

// The motes a multi-mote section names.
struct MoteSet {
  bool all = false;
  std::vector<uint16_t> listed;  // without `all`: the motes, in ascending order
  std::vector<uint16_t> except;  // with `all`: the motes left out
  std::string text;              // as written, for messages ("1-19", "all except 0")
};

// One `on motes ...` section as read: its statements gathered in `part`
// (whose `mote` means nothing), for the query at index `query`.
struct MoteSection {
  std::size_t query = 0;
  MoteSet motes;
  MotePart part;
};

// Reads "3", "1-19", "1,3,5-9" (each mote 0 to MAX_MOTES-1, ranges
// ascending) into ascending, distinct ids; throws LineError when it cannot.
std::vector<uint16_t> parse_mote_list(std::string_view text);

// Reads the words after `on motes`: a list, `all`, or `all except LIST`.
// Throws LineError when it cannot.
MoteSet parse_mote_set(const std::vector<std::string>& words);

// The network the file runs on: `motes N`, or one more than the highest
// mote that has a section or receives a remote stream.
int network_size(const QueryFile& file);

// Turns every section into parts of its query (see the top of this file).
// Clashes between a section and a part it continues (a stream name
// declared twice, a mote sending a remote stream to itself) are added to
// `errors`.
void expand_sections(QueryFile& file, const std::deque<MoteSection>& sections,
                     std::vector<Diagnostic>& errors);

}  // namespace query_file

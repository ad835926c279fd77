#pragma once
// Sections that run on several motes at once: `on motes 1-19`,
// `on motes 1,3,5-9`, `on motes all`, `on motes all except 0`. The reader
// collects the statements of such a section once; the compiler, once the
// network size is settled (the runner's --motes or --attach may change
// it), turns each section into one part per mote, with the same streams and
// operators and the lines they were written on, so every later message
// points at the line the user wrote. A part that a section shares with an
// `on mote M` section of the same query is continued, not duplicated.
//
// `all` means every mote of the network: `motes N`, or else one more than
// the highest mote the file names (network_size below).

#include <cstdint>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "queryfile/query_file.hpp"

namespace query_file {

// Reads "3", "1-19", "1,3,5-9" (each mote 0 to MAX_MOTES-1, ranges
// ascending) into ascending, distinct ids; throws LineError when it cannot.
std::vector<uint16_t> parse_mote_list(std::string_view text);

// Reads the words after `on motes`: a list, `all`, or `all except LIST`.
// Throws LineError when it cannot.
MoteSet parse_mote_set(const std::vector<std::string>& words);

// The network the file runs on: `motes N`, or one more than the highest
// mote that has a section or receives a remote stream.
int network_size(const QueryFile& file);

// Turns every section of `file` into parts of its query (see the top of
// this file) and returns the clashes between a section and a part it
// continues: a stream name declared twice, a mote sending a remote stream
// to itself.
std::vector<Diagnostic> expand_sections(QueryFile& file);

// The lines of the file's sections for several motes, statements included.
std::set<int> section_lines(const QueryFile& file);

// A statement of a section is checked once per mote. Findings on one of
// `lines` that differ only in the mote they name are said once, for all of
// those motes ("unknown stream 'x' on motes 1-19 ..."); repeated ones once.
void fold_per_mote(std::vector<Diagnostic>& list, const std::set<int>& lines);

}  // namespace query_file

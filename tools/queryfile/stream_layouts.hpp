#pragma once
// The fields of the records each stream of a query file carries, by name:
// a sensor stream carries mote, timestamp, epoch and the reading; operators
// keep, choose, join or replace fields; a remote stream carries what its
// senders write. Results are shown with the names of the stream that feeds
// mote 0's serial output.
//
// A stream may carry records of several kinds: a remote stream read by mote
// 0 may have senders writing different things (a window average of light
// from mote 1, a maximum of temperature from mote 2), also senders of other
// queries running at the same time that use the same stream number. Each
// kind keeps the motes whose readings it can hold, so that a result can be
// told apart by its mote field (result_names.hpp).

#include <cstdint>
#include <set>
#include <string>
#include <vector>

#include "queryfile/query_file.hpp"

namespace query_file {

// Field names ("mote", "timestamp", "epoch", "light", ...); empty when not known.
using Layout = std::vector<std::string>;

// One kind of record a stream carries: its field names, and the values its
// "mote" field can have (the motes whose sensors started such records).
struct RecordShape {
  Layout layout;
  std::set<uint16_t> motes;
};

// Whether two queries run at the same time for a while, by their planned
// times: a remote stream of one then also carries what senders of the other
// write under the same number.
bool run_together(const QueryDecl& a, const QueryDecl& b);

// The names that fit every layout given: a name all of them agree on stays,
// any other field gets a neutral name ("field3"). Empty for no layouts.
Layout common_layout(const std::vector<const Layout*>& layouts);

// The results of one serial output: what they may look like, and when.
struct ResultLayout {
  int64_t from = 0;  // virtual ticks: the query's planned start
  uint8_t query = 0;
  std::vector<RecordShape> shapes;  // the kinds of record it sends
  Layout layout;                    // common_layout of the shapes
  // In the plan's messages: the query's start and stop on mote 0, where the
  // serial output runs (-1: none). Filled in by the compiler.
  int start_message = -1;
  int stop_message = -1;
};

// The layouts of the results of every serial output in `file`, whose times
// count from `origin`. A join whose records would not fit ten fields is
// reported in `errors`.
std::vector<ResultLayout> result_layouts(const QueryFile& file, int64_t origin,
                                         std::vector<Diagnostic>& errors);

}  // namespace query_file

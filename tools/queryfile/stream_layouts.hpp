#pragma once
// The fields of the records each stream of a query file carries, by name:
// a sensor stream carries mote, timestamp, epoch and the reading; operators
// keep, choose, join or replace fields; a remote stream carries what its
// senders write. Results are shown with the names of the stream that feeds
// mote 0's serial output.

#include <cstdint>
#include <string>
#include <vector>

#include "queryfile/query_file.hpp"

namespace query_file {

// Field names ("mote", "timestamp", "epoch", "light", ...); empty when not known.
using Layout = std::vector<std::string>;

// From `from` (virtual ticks) on, results leaving mote 0 have this layout.
struct ResultLayout {
  int64_t from = 0;
  uint8_t query = 0;
  Layout layout;
};

// The layouts of the results of every serial output in `file`, whose times
// count from `origin`. A join whose records would not fit ten fields is
// reported in `errors`.
std::vector<ResultLayout> result_layouts(const QueryFile& file, int64_t origin,
                                         std::vector<Diagnostic>& errors);

}  // namespace query_file

#pragma once
// Did every mote deliver? The sources of a query file's results, and how
// many records each should have brought to the host.
//
// A source is a periodic sensor stream whose records reach a `serial` on
// mote 0, through operators and remote streams, over any number of hops. A
// record keeps the mote field its sensor stamped on it all the way, so
// results are attributed to sources by that field. The count is known only
// when each sample becomes exactly one result: the records pass through
// `send`, `mirror` and `project` alone, along one path. Selections,
// aggregates and joins drop, merge or pair records, and two paths to the
// host double them: then the expected count is unknown rather than wrong.

#include <cstdint>
#include <optional>
#include <vector>

#include "queryfile/query_compile.hpp"

namespace query_file {

// One sensor stream of one query on one mote that reaches the host.
struct Source {
  uint16_t mote = 0;
  uint8_t query = 0;
  double period = 0;        // virtual seconds between samples
  bool countable = false;   // one result per sample
  int start_message = -1;   // index in the plan of its query's start on the mote
  int stop_message = -1;    // likewise its stop; -1 when it runs to the end
};

std::vector<Source> delivery_sources(const QueryFile& file, const Plan& plan);

// The records a source should have delivered when its query started at
// `start` and ran until `end` (ticks): one per sampling period.
int64_t expected_records(const Source& source, int64_t start, int64_t end);

// Per mote, what came and what was expected.
struct Delivery {
  uint16_t mote = 0;
  std::optional<int64_t> expected;  // unknown when a source of the mote is not countable
  std::optional<int64_t> received;  // unknown when results carry no mote field
  std::optional<double> ratio() const {
    if (!expected || !received || *expected == 0) return std::nullopt;
    return static_cast<double>(*received) / static_cast<double>(*expected);
  }
};

}  // namespace query_file

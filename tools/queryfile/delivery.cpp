#include "queryfile/delivery.hpp"

#include <algorithm>
#include <cmath>
#include <string>

#include "queryfile/mote_sections.hpp"
#include "queryfile/query_compile.hpp"

namespace query_file {
namespace {

// A stream of one mote part.
struct Node {
  const QueryDecl* query;
  const MotePart* part;
  const StreamDecl* stream;
};

// Operators that turn each record they read into exactly one record.
bool one_for_one(OpKind kind) {
  return kind == OpKind::send || kind == OpKind::mirror || kind == OpKind::project ||
         kind == OpKind::serial;
}

class Paths {
 public:
  explicit Paths(const QueryFile& file) : file_(file) {}

  // Follows the records of `from`: the paths that reach the host, and
  // whether any of them changes how many records there are.
  void follow(const Node& from, bool exact, int depth) {
    // Longer than any sound file; also ends cycles of streams.
    if (depth > 64) {
      inexact_ = true;
      return;
    }
    for (const OperatorDecl& o : from.part->operators) {
      if (std::find(o.inputs.begin(), o.inputs.end(), from.stream->name) == o.inputs.end()) continue;
      const bool still_exact = exact && one_for_one(o.kind);
      if (o.kind == OpKind::serial) {
        if (from.part->mote != 0) continue;
        ++paths_;
        if (!still_exact) inexact_ = true;
        continue;
      }
      for (const StreamDecl& s : from.part->streams) {
        if (s.name == o.output) follow({from.query, from.part, &s}, still_exact, depth + 1);
      }
    }
    if (from.stream->kind == StreamKind::remote_out) {
      // On to every reading end of that remote stream at its mote, in the
      // queries that run while this one does.
      for (const QueryDecl& q : file_.queries) {
        if (!run_together(*from.query, q)) continue;
        for (const MotePart& p : q.motes) {
          if (p.mote != from.stream->to) continue;
          for (const StreamDecl& s : p.streams) {
            if (s.kind == StreamKind::remote_in && s.remote_name == from.stream->remote_name) {
              follow({&q, &p, &s}, exact, depth + 1);
            }
          }
        }
      }
    }
  }

  int paths() const { return paths_; }
  bool exact() const { return paths_ == 1 && !inexact_; }

 private:
  const QueryFile& file_;
  int paths_ = 0;
  bool inexact_ = false;
};

int find_message(const Plan& plan, uint16_t mote, uint8_t query, uint8_t code) {
  for (std::size_t i = 0; i < plan.messages.size(); ++i) {
    const TimedMessage& m = plan.messages[i];
    if (m.to == mote && m.message.query_id == query && m.message.msg_type == code) {
      return static_cast<int>(i);
    }
  }
  return -1;
}
}  // namespace

std::vector<Source> delivery_sources(const QueryFile& file, const Plan& plan) {
  // The parts as the compiler made them, trees of `collect` included.
  QueryFile whole = file;
  expand_sections(whole);
  expand_collects(whole, collect_links(file));
  std::vector<Source> sources;
  for (const QueryDecl& q : whole.queries) {
    for (const MotePart& p : q.motes) {
      for (const StreamDecl& s : p.streams) {
        if (s.kind != StreamKind::sensor || s.on_demand || s.rate == 0) continue;
        Paths paths(whole);
        paths.follow({&q, &p, &s}, true, 0);
        if (paths.paths() == 0) continue;
        Source source;
        source.mote = p.mote;
        source.query = q.id;
        source.period = s.rate / TIMER_COUNTS_PER_SECOND;
        source.countable = paths.exact();
        source.start_message = find_message(plan, p.mote, q.id, protocol::CODE_START_QUERY);
        source.stop_message = find_message(plan, p.mote, q.id, protocol::CODE_STOP_QUERY);
        sources.push_back(source);
      }
    }
  }
  return sources;
}

int64_t expected_records(const Source& source, int64_t start, int64_t end) {
  if (end <= start || source.period <= 0) return 0;
  const double seconds = static_cast<double>(end - start) / TICKS_PER_SECOND;
  return static_cast<int64_t>(std::floor(seconds / source.period));
}

}  // namespace query_file

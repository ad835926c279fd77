#include "queryfile/stream_layouts.hpp"

#include <algorithm>
#include <cmath>
#include <limits>
#include <map>
#include <optional>
#include <tuple>

#include "protocol/operators.hpp"
#include "protocol/time_format.hpp"  // TICKS_PER_SECOND

namespace query_file {
namespace {
using protocol::NO_FIELD;

// Where a stream's layout is kept: query, mote, name.
using StreamKey = std::tuple<uint8_t, uint16_t, std::string>;

std::string field_name(const Layout& in, uint8_t f) {
  if (f < in.size()) return in[f];
  return "field" + std::to_string(f);
}
Layout widen(Layout in, std::size_t n) {
  for (std::size_t i = in.size(); i < n; ++i) in.push_back("field" + std::to_string(i));
  in.resize(n);
  return in;
}
void add_unique(Layout& out, const std::string& name) {
  std::string unique = name;
  for (int n = 2; std::find(out.begin(), out.end(), unique) != out.end(); ++n) {
    unique = name + "_" + std::to_string(n);
  }
  out.push_back(unique);
}

// The layout an operator writes, given the layouts it reads.
std::optional<Layout> output_layout(const OperatorDecl& o, const std::vector<const Layout*>& in,
                                    const std::string& file, std::vector<Diagnostic>& errors) {
  const Layout& a = *in[0];
  switch (o.kind) {
    case OpKind::select_constant:
    case OpKind::select_fields:
    case OpKind::send:
    case OpKind::mirror:
    case OpKind::serial: return widen(a, std::min<std::size_t>(a.size(), o.read_fields));
    case OpKind::project: {
      Layout out{field_name(a, o.field1)};
      if (o.field2 != NO_FIELD) add_unique(out, field_name(a, o.field2));
      return out;
    }
    case OpKind::sync_join:
    case OpKind::merge_join: {
      Layout out;
      for (const std::string& n : a) add_unique(out, n);
      for (std::size_t i = 0; i < in[1]->size(); ++i) {
        if (i != 1) add_unique(out, (*in[1])[i]);
      }
      if (out.size() > 10) {
        errors.push_back({file, o.line, "the joined records would have " + std::to_string(out.size()) +
                          " fields (" + std::to_string(a.size()) + " + " +
                          std::to_string(in[1]->size()) + " - 1); a record holds 10: project "
                          "the inputs first"});
        out.resize(10);
      }
      return out;
    }
    case OpKind::pair_avg:
    case OpKind::pair_sum: {
      Layout out = widen(a, 5);
      out[3] = o.kind == OpKind::pair_avg ? "avg" : "sum";
      if (o.count_byte / 2 == 4) out[4] = "count";
      return out;
    }
    case OpKind::pair_max:
    case OpKind::pair_min: {
      Layout out = widen(a, 4);
      out[3] = o.kind == OpKind::pair_max ? "max" : "min";
      return out;
    }
    case OpKind::window_avg:
    case OpKind::window_max:
    case OpKind::window_min: {
      Layout out = widen(a, std::min<std::size_t>(5, std::max<std::size_t>(a.size(), o.field1 + 1u)));
      const char* what = o.kind == OpKind::window_avg ? "avg" : o.kind == OpKind::window_max ? "max" : "min";
      out[o.field1] = std::string(what) + "(" + out[o.field1] + ")";
      return out;
    }
  }
  return std::nullopt;
}


// A stream holds at most this many kinds of record. A cycle of streams that
// renames a field on every turn would otherwise grow them without end; past
// it the stream gets one kind that names nothing, so its results get
// neutral names.
constexpr std::size_t MAX_SHAPES = 8;

using Shapes = std::vector<RecordShape>;

// Adds a kind of record to a stream's; true when that changed them.
bool add_shape(Shapes& shapes, const Layout& layout, const std::set<uint16_t>& motes) {
  for (RecordShape& s : shapes) {
    if (s.layout != layout) continue;
    const std::size_t before = s.motes.size();
    s.motes.insert(motes.begin(), motes.end());
    return s.motes.size() != before;
  }
  if (shapes.size() >= MAX_SHAPES) {
    if (layout.empty()) return false;
    return add_shape(shapes, Layout{}, {});
  }
  shapes.push_back({layout, motes});
  return true;
}

class Shaper {
 public:
  explicit Shaper(const QueryFile& file) : file_(file) {}

  // Follows sensors through operators and remote streams until nothing changes.
  void run() {
    for (const QueryDecl& q : file_.queries) {
      for (const MotePart& p : q.motes) {
        for (const StreamDecl& s : p.streams) {
          if (s.kind == StreamKind::sensor) {
            add_shape(known_[{q.id, p.mote, s.name}],
                      {"mote", "timestamp", "epoch", sensor_name(s.sensor)}, {p.mote});
          }
        }
      }
    }
    for (bool changed = true; changed;) {
      changed = false;
      for (const QueryDecl& q : file_.queries) {
        for (const MotePart& p : q.motes) {
          for (const StreamDecl& s : p.streams) {
            if (s.kind == StreamKind::remote_in) changed |= receive(q, p.mote, s);
          }
          for (const OperatorDecl& o : p.operators) changed |= apply(q, p.mote, o);
        }
      }
    }
  }

  const Shapes* shapes(uint8_t query, uint16_t mote, const std::string& stream) const {
    auto found = known_.find({query, mote, stream});
    return found == known_.end() ? nullptr : &found->second;
  }

  // Each mistake once, though the same operator is worked out many times.
  std::vector<Diagnostic> errors() const {
    std::vector<Diagnostic> unique;
    for (const Diagnostic& d : errors_) {
      auto same = [&](const Diagnostic& u) { return u.line == d.line && u.text == d.text; };
      if (std::none_of(unique.begin(), unique.end(), same)) unique.push_back(d);
    }
    return unique;
  }

 private:
  // What the senders of a remote stream's reading end write to it.
  bool receive(const QueryDecl& q, uint16_t mote, const StreamDecl& in) {
    bool changed = false;
    for (const QueryDecl& other : file_.queries) {
      if (!run_together(q, other)) continue;
      for (const MotePart& p : other.motes) {
        for (const StreamDecl& s : p.streams) {
          if (s.kind != StreamKind::remote_out || s.remote_name != in.remote_name || s.to != mote) {
            continue;
          }
          const Shapes* sent = shapes(other.id, p.mote, s.name);
          if (sent == nullptr) continue;
          for (const RecordShape& shape : *sent) {
            changed |= add_shape(known_[{q.id, mote, in.name}], shape.layout, shape.motes);
          }
        }
      }
    }
    return changed;
  }

  // What an operator writes, for every kind of record it may read.
  bool apply(const QueryDecl& q, uint16_t mote, const OperatorDecl& o) {
    std::vector<Shapes> in;
    for (const std::string& name : o.inputs) {
      const Shapes* found = shapes(q.id, mote, name);
      if (found == nullptr) return false;
      in.push_back(*found);
    }
    if (in.empty()) return false;
    const StreamKey out_key{q.id, mote, o.kind == OpKind::serial ? std::string("\n") : o.output};
    bool changed = false;
    for (const RecordShape& a : in[0]) {
      // The record written keeps the first input's mote field.
      std::vector<const RecordShape*> seconds{nullptr};
      if (in.size() > 1) {
        seconds.clear();
        for (const RecordShape& b : in[1]) seconds.push_back(&b);
      }
      for (const RecordShape* b : seconds) {
        std::vector<const Layout*> layouts{&a.layout};
        if (b != nullptr) layouts.push_back(&b->layout);
        std::optional<Layout> out = output_layout(o, layouts, file_.name, errors_);
        if (out) changed |= add_shape(known_[out_key], *out, a.motes);
      }
    }
    return changed;
  }

  const QueryFile& file_;
  std::map<StreamKey, Shapes> known_;
  std::vector<Diagnostic> errors_;
};
}  // namespace

bool run_together(const QueryDecl& a, const QueryDecl& b) {
  if (&a == &b) return true;
  const double never = std::numeric_limits<double>::infinity();
  return a.at < b.stop_at.value_or(never) && b.at < a.stop_at.value_or(never);
}

Layout common_layout(const std::vector<const Layout*>& layouts) {
  if (layouts.empty()) return {};
  std::size_t longest = 0;
  for (const Layout* l : layouts) longest = std::max(longest, l->size());
  Layout common;
  for (std::size_t f = 0; f < longest; ++f) {
    const Layout& first = *layouts.front();
    const bool agree = f < first.size() && std::all_of(layouts.begin(), layouts.end(), [&](const Layout* l) {
                         return f < l->size() && (*l)[f] == first[f];
                       });
    common.push_back(agree ? first[f] : "field" + std::to_string(f));
  }
  return common;
}

std::vector<ResultLayout> result_layouts(const QueryFile& file, int64_t origin,
                                         std::vector<Diagnostic>& errors) {
  Shaper shaper(file);
  shaper.run();
  for (Diagnostic& d : shaper.errors()) errors.push_back(std::move(d));
  std::vector<ResultLayout> results;
  for (const QueryDecl& q : file.queries) {
    for (const MotePart& p : q.motes) {
      for (const OperatorDecl& o : p.operators) {
        if (o.kind != OpKind::serial) continue;
        ResultLayout r;
        r.from = origin + static_cast<int64_t>(std::llround(q.at * TICKS_PER_SECOND));
        r.query = q.id;
        if (const Shapes* shapes = shaper.shapes(q.id, p.mote, "\n")) r.shapes = *shapes;
        std::vector<const Layout*> layouts;
        for (const RecordShape& s : r.shapes) layouts.push_back(&s.layout);
        r.layout = common_layout(layouts);
        results.push_back(std::move(r));
      }
    }
  }
  return results;
}

}  // namespace query_file

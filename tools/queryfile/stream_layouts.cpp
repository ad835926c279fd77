#include "queryfile/stream_layouts.hpp"

#include <algorithm>
#include <cmath>
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


// The layout of a remote stream's sending end, once one is known.
std::optional<Layout> sender_layout(const QueryFile& file, const std::map<StreamKey, Layout>& known,
                                  uint8_t name, uint16_t to) {
  for (const QueryDecl& q : file.queries) {
    for (const MotePart& p : q.motes) {
      for (const StreamDecl& s : p.streams) {
        if (s.kind != StreamKind::remote_out || s.remote_name != name || s.to != to) continue;
        auto found = known.find({q.id, p.mote, s.name});
        if (found != known.end()) return found->second;
      }
    }
  }
  return std::nullopt;
}
}  // namespace

std::vector<ResultLayout> result_layouts(const QueryFile& file, int64_t origin,
                                         std::vector<Diagnostic>& errors) {
  std::vector<ResultLayout> results;
  std::map<StreamKey, Layout> known;
  for (const QueryDecl& q : file.queries) {
    for (const MotePart& p : q.motes) {
      for (const StreamDecl& s : p.streams) {
        if (s.kind == StreamKind::sensor) {
          known[{q.id, p.mote, s.name}] = {"mote", "timestamp", "epoch", sensor_name(s.sensor)};
        }
      }
    }
  }
  // Follow the operators (and remote streams between motes) until nothing
  // changes. Each output is worked out once, so each error is reported once.
  for (bool changed = true; changed;) {
    changed = false;
    for (const QueryDecl& q : file.queries) {
      for (const MotePart& p : q.motes) {
        for (const StreamDecl& s : p.streams) {
          if (s.kind != StreamKind::remote_in || known.count({q.id, p.mote, s.name})) continue;
          if (auto sent = sender_layout(file, known, s.remote_name, p.mote)) {
            known[{q.id, p.mote, s.name}] = *sent;
            changed = true;
          }
        }
        for (const OperatorDecl& o : p.operators) {
          std::vector<const Layout*> in;
          for (const std::string& name : o.inputs) {
            auto found = known.find({q.id, p.mote, name});
            if (found != known.end()) in.push_back(&found->second);
          }
          if (in.size() != o.inputs.size()) continue;
          StreamKey out_key{q.id, p.mote, o.kind == OpKind::serial ? std::string("\n") : o.output};
          if (known.count(out_key)) continue;
          std::optional<Layout> out = output_layout(o, in, file.name, errors);
          if (!out) continue;
          known[out_key] = *out;
          changed = true;
        }
      }
    }
  }
  for (const QueryDecl& q : file.queries) {
    for (const MotePart& p : q.motes) {
      for (const OperatorDecl& o : p.operators) {
        if (o.kind != OpKind::serial) continue;
        auto found = known.find({q.id, p.mote, "\n"});
        results.push_back({origin + static_cast<int64_t>(std::llround(q.at * TICKS_PER_SECOND)),
                           q.id, found != known.end() ? found->second : Layout{}});
      }
    }
  }
  return results;
}

}  // namespace query_file

#include "queryfile/collect_expand.hpp"

#include <algorithm>
#include <set>

#include "protocol/limits.hpp"
#include "queryfile/mote_sections.hpp"

namespace query_file {
namespace {

// A relay keeps one channel for its parent; every child takes one more.
constexpr int RELAY_CHILDREN = std::min(protocol::CHANNELS - 1, protocol::REMOTE_SOURCES);
constexpr int BASE_CHILDREN = std::min(protocol::CHANNELS, protocol::REMOTE_SOURCES);

MotePart& part_for(QueryDecl& q, uint16_t mote, int line) {
  for (MotePart& p : q.motes) {
    if (p.mote == mote) return p;
  }
  q.motes.push_back(MotePart{line, mote, {}, {}});
  return q.motes.back();
}

// The `count` lowest remote stream numbers no stream of the file uses.
std::vector<uint8_t> free_remote_names(const QueryFile& file, int count) {
  std::set<int> used;
  for (const QueryDecl& q : file.queries) {
    for (const MotePart& p : q.motes) {
      for (const StreamDecl& s : p.streams) used.insert(s.remote_name);
    }
  }
  std::vector<uint8_t> names;
  for (int n = 1; n <= 255 && static_cast<int>(names.size()) < count; ++n) {
    if (used.count(n) == 0) names.push_back(static_cast<uint8_t>(n));
  }
  return names;
}

StreamDecl stream(int line, std::string name, StreamKind kind) {
  StreamDecl s;
  s.line = line;
  s.name = std::move(name);
  s.kind = kind;
  return s;
}
OperatorDecl send(int line, const std::string& from, const std::string& to) {
  OperatorDecl o;
  o.line = line;
  o.kind = OpKind::send;
  o.inputs = {from};
  o.output = to;
  return o;
}

// The largest bit-error probability carries_packets accepts, rounded.
constexpr const char* GOOD_LINK = "about 0.001";

class Expander {
 public:
  Expander(QueryFile& file, const Connectivity& links) : file_(file), links_(links) {}

  CollectExpansion run() {
    const int size = network_size(file_);
    for (const CollectDecl& c : file_.collects) one(c, size);
    file_.collects.clear();
    return std::move(result_);
  }

 private:
  void error(int line, std::string text) { result_.errors.push_back({file_.name, line, std::move(text)}); }

  std::vector<uint16_t> sources(const CollectDecl& c, int size) {
    std::vector<uint16_t> motes;
    if (!c.sources.all) {
      for (uint16_t m : c.sources.listed) {
        if (m == 0) {
          error(c.line, "mote 0 passes the collected records to the host; leave it out of the "
                        "sources (from motes all except 0, or 1-N)");
        } else {
          motes.push_back(m);
        }
      }
      return motes;
    }
    // `all` means every mote that can send: not mote 0, nor the collecting mote.
    const std::vector<uint16_t>& except = c.sources.except;
    for (int m = 1; m < size; ++m) {
      if (m == c.to || std::find(except.begin(), except.end(), m) != except.end()) continue;
      motes.push_back(static_cast<uint16_t>(m));
    }
    if (c.to != 0 && std::find(except.begin(), except.end(), c.to) == except.end()) {
      motes.push_back(c.to);  // the collecting mote's own readings go to mote 0 with the rest
    }
    std::sort(motes.begin(), motes.end());
    return motes;
  }

  void one(const CollectDecl& c, int size) {
    QueryDecl& q = file_.queries[c.query];
    std::vector<uint16_t> from = sources(c, size);
    if (from.empty()) {
      error(c.line, "'collect' has no motes to collect from");
      return;
    }
    const bool base = c.to == 0;
    if (!base && !hears_both_ways(c.to)) {
      error(c.line, "mote " + std::to_string(c.to) + " collects, but mote 0 and it do not hear "
                    "each other well enough to carry packets (bit-error probability at most " +
                    std::string(GOOD_LINK) + " both ways)");
      return;
    }
    CollectTree tree = plan_tree(c.to, from, links_, base ? BASE_CHILDREN : RELAY_CHILDREN, RELAY_CHILDREN);
    report_left_out(c, tree);
    const std::vector<uint8_t> names = free_remote_names(file_, base ? 2 : 3);
    if (static_cast<int>(names.size()) < (base ? 2 : 3)) {
      error(c.line, "no remote stream numbers are left for 'collect' (1-255 are all used)");
      return;
    }
    const bool samples_root = std::find(from.begin(), from.end(), c.to) != from.end();
    const std::string prefix = "collect" + std::to_string(c.line) + "_";
    const std::string reading = prefix + "reading", in = prefix + "in", up = prefix + "up";
    for (const TreeNode& n : tree.nodes) {
      MotePart& p = part_for(q, n.mote, c.line);
      const bool root = n.parent < 0;
      const bool samples = !root || samples_root;
      if (samples) {
        StreamDecl s = stream(c.line, reading, StreamKind::sensor);
        s.sensor = c.sensor;
        s.rate = c.rate;
        p.streams.push_back(s);
      }
      if (!n.children.empty()) {
        StreamDecl s = stream(c.line, in, StreamKind::remote_in);
        s.remote_name = names[n.depth % 2];
        s.rate = 100;
        s.buffer = c.buffer;
        p.streams.push_back(s);
      }
      if (root && base) {
        if (!n.children.empty()) {
          OperatorDecl o;
          o.line = c.line;
          o.kind = OpKind::serial;
          o.inputs = {in};
          p.operators.push_back(o);
        }
        continue;
      }
      StreamDecl s = stream(c.line, up, StreamKind::remote_out);
      s.remote_name = root ? names[2] : names[(n.depth - 1) % 2];
      s.to = root ? 0 : static_cast<uint16_t>(n.parent);
      s.rate = 100;
      p.streams.push_back(s);
      if (samples) p.operators.push_back(send(c.line, reading, up));
      if (!n.children.empty()) p.operators.push_back(send(c.line, in, up));
    }
    if (!base) {
      MotePart& p = part_for(q, 0, c.line);
      StreamDecl s = stream(c.line, in, StreamKind::remote_in);
      s.remote_name = names[2];
      s.rate = 100;
      s.buffer = c.buffer;
      p.streams.push_back(s);
      OperatorDecl o;
      o.line = c.line;
      o.kind = OpKind::serial;
      o.inputs = {in};
      p.operators.push_back(o);
    }
    const int sampling = static_cast<int>(tree.nodes.size()) - 1 + (samples_root ? 1 : 0);
    result_.plans.push_back({c.line, q.id, c.sensor, sampling, std::move(tree)});
  }

  // Mote 0 and a collecting mote other than it exchange records directly.
  bool hears_both_ways(uint16_t to) const {
    CollectTree pair = plan_tree(0, {to}, links_, 1, 0);
    return pair.nodes.size() == 2;
  }

  void report_left_out(const CollectDecl& c, const CollectTree& tree) {
    std::vector<Diagnostic>& list = c.skip_unreachable ? result_.warnings : result_.errors;
    const std::string hint = c.skip_unreachable ? "; they are left out" : " (add 'skip_unreachable' to collect from the others)";
    if (!tree.unreachable.empty()) {
      list.push_back({file_.name, c.line,
                      motes_text(tree.unreachable) + " cannot reach mote " + std::to_string(c.to) +
                          ": no chain of links good enough to carry a packet (bit-error probability "
                          "at most " + std::string(GOOD_LINK) + ") with room at each relay (" +
                          std::to_string(RELAY_CHILDREN) + " children, " +
                          std::to_string(BASE_CHILDREN) + " at mote 0)" + hint});
    }
  }

  static std::string motes_text(const std::vector<uint16_t>& motes) {
    return (motes.size() == 1 ? "mote " : "motes ") + mote_ranges(motes);
  }

  QueryFile& file_;
  const Connectivity& links_;
  CollectExpansion result_;
};

}  // namespace

Connectivity connectivity_of(const QueryFile& file) {
  Connectivity c;
  c.unlisted_perfect = true;
  for (const LinkSetting& l : file.links) c.links.push_back({l.from, l.to, l.probability});
  return c;
}

CollectExpansion expand_collects(QueryFile& file, const Connectivity& links) {
  return Expander(file, links).run();
}

std::string describe(const CollectPlan& plan) {
  const CollectTree& t = plan.tree;
  std::string text = "collect at line " + std::to_string(plan.line) + " (query " +
                     std::to_string(plan.query) + "): " + sensor_name(plan.sensor) + " from " +
                     std::to_string(plan.sources) + " motes to mote " + std::to_string(t.root) + ", depth " +
                     std::to_string(t.depth()) + "\n";
  return text + describe(t);
}

}  // namespace query_file

#include "queryfile/collect_tree.hpp"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <map>
#include <set>

namespace query_file {
namespace {

constexpr int FRAME_BYTES = 84 + 6 + 2;  // channel message, header and trailing byte, CRC
constexpr int CODE_BITS = 13;            // data and check bits of one coded byte
constexpr int START_SYMBOL_BITS = 12 * 8;

}  // namespace

LinkTable::LinkTable(const Connectivity& c) : unlisted_perfect_(c.unlisted_perfect) {
  for (const RadioLink& l : c.links) {
    auto [at, fresh] = errors_.try_emplace({l.from, l.to}, l.bit_error);
    if (!fresh) at->second = std::max(at->second, l.bit_error);
  }
}

bool LinkTable::good(uint16_t from, uint16_t to) const {
  auto found = errors_.find({from, to});
  if (found == errors_.end()) return unlisted_perfect_;
  return carries_packets(found->second);
}

double frame_delivery(double p) {
  if (p <= 0) return 1;
  if (p >= 1) return 0;
  const double q = 1 - p;
  const double code_byte = std::pow(q, CODE_BITS) + CODE_BITS * p * std::pow(q, CODE_BITS - 1);
  return std::pow(q, START_SYMBOL_BITS) * std::pow(code_byte, FRAME_BYTES);
}

bool carries_packets(double bit_error) { return frame_delivery(bit_error) >= MIN_FRAME_DELIVERY; }

const TreeNode* CollectTree::find(uint16_t mote) const {
  for (const TreeNode& n : nodes) {
    if (n.mote == mote) return &n;
  }
  return nullptr;
}

int CollectTree::depth() const {
  int deepest = 0;
  for (const TreeNode& n : nodes) deepest = std::max(deepest, n.depth);
  return deepest;
}

CollectTree plan_tree(uint16_t root, const std::vector<uint16_t>& sources,
                      const Connectivity& connectivity, int root_children, int relay_children) {
  const LinkTable links(connectivity);
  CollectTree tree;
  tree.root = root;
  tree.nodes.push_back({root, -1, 0, {}});
  std::vector<uint16_t> waiting;
  for (uint16_t m : sources) {
    if (m != root) waiting.push_back(m);
  }
  std::vector<std::size_t> layer{0};  // node indexes of the deepest layer placed
  while (!layer.empty() && !waiting.empty()) {
    std::vector<std::size_t> next;
    std::vector<uint16_t> still_waiting;
    for (uint16_t m : waiting) {
      std::size_t best = 0;
      bool found = false;
      for (std::size_t i : layer) {
        const TreeNode& p = tree.nodes[i];
        const int room = (i == 0 ? root_children : relay_children) - static_cast<int>(p.children.size());
        if (room <= 0 || !links.good(m, p.mote)) continue;
        if (!found || p.children.size() < tree.nodes[best].children.size()) best = i, found = true;
      }
      if (!found) {
        still_waiting.push_back(m);
        continue;
      }
      tree.nodes[best].children.push_back(m);
      tree.nodes.push_back({m, static_cast<int>(tree.nodes[best].mote), tree.nodes[best].depth + 1, {}});
      next.push_back(tree.nodes.size() - 1);
    }
    layer = std::move(next);
    waiting = std::move(still_waiting);
  }
  tree.unreachable = std::move(waiting);
  return tree;
}

std::string mote_ranges(const std::vector<uint16_t>& motes) {
  std::set<uint16_t> sorted(motes.begin(), motes.end());
  std::string text;
  for (auto i = sorted.begin(); i != sorted.end();) {
    int first = *i, last = *i;
    for (++i; i != sorted.end() && *i == last + 1; ++i) last = *i;
    if (!text.empty()) text += ",";
    text += std::to_string(first);
    if (last > first) text += "-" + std::to_string(last);
  }
  return text;
}

std::string describe(const CollectTree& tree) {
  std::string text = "  mote  parent  depth  children\n";
  for (const TreeNode& n : tree.nodes) {
    char line[64];
    std::snprintf(line, sizeof line, "  %4u  %6s  %5d  ", n.mote,
                  n.parent < 0 ? "-" : std::to_string(n.parent).c_str(), n.depth);
    text += line;
    text += n.children.empty() ? "-" : mote_ranges(n.children);
    text += "\n";
  }
  if (!tree.unreachable.empty()) {
    text += "  unreachable (no good link into the tree): " + mote_ranges(tree.unreachable) + "\n";
  }
  return text;
}

}  // namespace query_file

#pragma once
// The relay tree of a network-wide collection: which mote each source sends
// its records to, so that every record climbs, hop by hop, to the collecting
// mote. A relay reads what its children send and sends it on, with its own
// readings, to its parent, so it holds one channel per child and one to its
// parent; the collecting mote holds one per child (plus one towards mote 0
// when it is not mote 0 itself). Keeping every mote within its channel
// table is what lets a whole network report through a mote that can only
// listen to four others.
//
// Links come as a plain list of (from, to, bit-error probability). A link
// is used only when a channel frame crosses it intact with probability at
// least MIN_FRAME_DELIVERY (frame_delivery below). Whether mote 0 reaches a
// source does not matter here: the runner installs a mote mote 0 cannot
// reach by handing its operator messages straight to its radio.

#include <cstdint>
#include <map>
#include <string>
#include <utility>
#include <vector>

namespace query_file {

// The radio links the planner may use.
struct RadioLink {
  uint16_t from = 0;
  uint16_t to = 0;
  double bit_error = 0;
};
struct Connectivity {
  // True for one radio cell in which only the listed links differ (the
  // simple model, or the lossy model with links set one by one); false when
  // the list is the whole topology and an unlisted pair does not hear itself.
  bool unlisted_perfect = true;
  std::vector<RadioLink> links;
};

// Which directed links carry packets; a pair listed twice counts with its
// worse value.
class LinkTable {
 public:
  explicit LinkTable(const Connectivity& c);
  bool good(uint16_t from, uint16_t to) const;

 private:
  bool unlisted_perfect_;
  std::map<std::pair<uint16_t, uint16_t>, double> errors_;
};

// The estimated probability that a channel message (84 bytes, with the
// packet header and CRC 92 bytes, each sent as three code bytes that
// correct one error among their 13 meaningful bits, behind a 12-byte start
// symbol that must arrive intact) crosses a link with this bit-error
// probability.
double frame_delivery(double bit_error);
constexpr double MIN_FRAME_DELIVERY = 0.9;
// frame_delivery(bit_error) >= MIN_FRAME_DELIVERY.
bool carries_packets(double bit_error);

struct TreeNode {
  uint16_t mote = 0;
  int parent = -1;  // -1 for the collecting mote
  int depth = 0;
  std::vector<uint16_t> children;  // ascending
};

struct CollectTree {
  uint16_t root = 0;
  std::vector<TreeNode> nodes;  // the root first, then by depth, ascending motes within a depth
  // Sources left out: no good link leads from them into the tree within the limits.
  std::vector<uint16_t> unreachable;

  const TreeNode* find(uint16_t mote) const;
  int depth() const;  // of the deepest mote
};

// Plans the tree rooted at `root` over the sources (ascending, without the
// root): layer by layer from the root, each mote joins the mote of the
// layer above with a good link to it and the fewest children, so the tree
// stays shallow. The root takes at most `root_children` children, every
// other mote `relay_children`.
CollectTree plan_tree(uint16_t root, const std::vector<uint16_t>& sources,
                      const Connectivity& links, int root_children, int relay_children);

// The tree as a table, one line per mote: its parent, depth and children.
std::string describe(const CollectTree& tree);

// "1-3,5,7-9"
std::string mote_ranges(const std::vector<uint16_t>& motes);

}  // namespace query_file

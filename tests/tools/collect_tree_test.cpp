// Network-wide collection: the relay tree keeps every mote within its
// channels and gives every reachable source a path to the collecting mote,
// on one radio cell and over a lossy topology; sources that cannot be
// reached are named at the statement's line; the compiled file passes every
// check of the compiler (channels, tables, installation time).

#include "queryfile/collect_expand.hpp"
#include "queryfile/collect_tree.hpp"
#include "queryfile/query_compile.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <set>

#include "protocol/limits.hpp"

namespace query_file {
namespace {

std::vector<uint16_t> motes_from(int first, int last) {
  std::vector<uint16_t> m;
  for (int i = first; i <= last; ++i) m.push_back(static_cast<uint16_t>(i));
  return m;
}

// Every placed mote climbs to the root through placed motes, one depth
// less at each step, and no mote has more children than its channels allow.
void expect_sound_tree(const CollectTree& t, const Connectivity& links, int root_children,
                       int relay_children) {
  ASSERT_FALSE(t.nodes.empty());
  EXPECT_EQ(t.nodes[0].mote, t.root);
  std::set<uint16_t> seen;
  for (const TreeNode& n : t.nodes) {
    EXPECT_TRUE(seen.insert(n.mote).second) << "mote " << n.mote << " placed twice";
    const int limit = n.parent < 0 ? root_children : relay_children;
    EXPECT_LE(static_cast<int>(n.children.size()), limit) << "mote " << n.mote;
    const TreeNode* at = &n;
    for (int hops = 0; at->parent >= 0; ++hops) {
      ASSERT_LT(hops, 1000) << "cycle at mote " << n.mote;
      const TreeNode* parent = t.find(static_cast<uint16_t>(at->parent));
      ASSERT_NE(parent, nullptr) << "mote " << at->mote << " has a parent outside the tree";
      EXPECT_EQ(parent->depth + 1, at->depth);
      bool listed = std::count(parent->children.begin(), parent->children.end(), at->mote) == 1;
      EXPECT_TRUE(listed) << "mote " << at->mote;
      // The hop is a link the planner may use.
      for (const RadioLink& l : links.links) {
        if (l.from == at->mote && l.to == parent->mote) {
          EXPECT_TRUE(carries_packets(l.bit_error));
        }
      }
      at = parent;
    }
  }
}

TEST(CollectTree, OneCellOfTwentyMotesFitsTheChannelsAndIsShallow) {
  const Connectivity cell;
  CollectTree t = plan_tree(0, motes_from(1, 19), cell, protocol::CHANNELS, protocol::CHANNELS - 1);
  expect_sound_tree(t, cell, 4, 3);
  EXPECT_EQ(t.nodes.size(), 20u);
  EXPECT_TRUE(t.unreachable.empty());
  // Four under mote 0, twelve under those: the nineteenth is the third layer's.
  EXPECT_EQ(t.depth(), 3);

  // A hundred motes stay within the limits too, in a few layers.
  CollectTree big = plan_tree(0, motes_from(1, 99), cell, 4, 3);
  expect_sound_tree(big, cell, 4, 3);
  EXPECT_EQ(big.nodes.size(), 100u);
  EXPECT_LE(big.depth(), 5);
}

TEST(CollectTree, LossyLinksAreUsedOnlyWhenAFrameGetsThrough) {
  // The estimate against an independent reckoning: at 0.001 about 90% of
  // frames arrive (the start symbol's 96 bits dominate), at 0.01 almost none.
  EXPECT_EQ(frame_delivery(0), 1);
  EXPECT_NEAR(frame_delivery(0.001), std::pow(0.999, 96) * 0.9928, 0.001);
  EXPECT_LT(frame_delivery(0.01), 0.5);
  EXPECT_TRUE(carries_packets(0.0005));
  EXPECT_FALSE(carries_packets(0.002));

  // A line of motes 0-1-2-3-4 with good links between neighbours only; mote
  // 0 reaches motes 2-5 but hears only mote 1. Mote 5's links are all poor;
  // mote 0 cannot reach mote 6, which it hears: the runner installs such a
  // mote directly, so it still joins the tree.
  Connectivity line;
  line.unlisted_perfect = false;
  auto both = [&](int a, int b, double p) {
    line.links.push_back({static_cast<uint16_t>(a), static_cast<uint16_t>(b), p});
    line.links.push_back({static_cast<uint16_t>(b), static_cast<uint16_t>(a), p});
  };
  for (int m = 1; m <= 4; ++m) both(m - 1, m, 0.0001);
  for (int m = 2; m <= 5; ++m) line.links.push_back({0, static_cast<uint16_t>(m), 0.0005});
  both(5, 4, 0.01);
  both(5, 3, 0.3);
  line.links.push_back({6, 0, 0.0});
  CollectTree t = plan_tree(0, motes_from(1, 6), line, 4, 3);
  expect_sound_tree(t, line, 4, 3);
  ASSERT_NE(t.find(4), nullptr);
  EXPECT_EQ(t.find(4)->depth, 4);
  EXPECT_EQ(t.find(4)->parent, 3);
  EXPECT_EQ(t.unreachable, std::vector<uint16_t>{5});
  ASSERT_NE(t.find(6), nullptr);
  EXPECT_EQ(t.find(6)->parent, 0);
}

TEST(CollectTree, AFullRelayPushesAMoteOneLayerDown) {
  // Motes 1-5 hear only mote 0 and mote 1; mote 0 takes four, the fifth
  // goes under mote 1.
  Connectivity star;
  star.unlisted_perfect = false;
  for (int m = 1; m <= 5; ++m) {
    star.links.push_back({0, static_cast<uint16_t>(m), 0});
    star.links.push_back({static_cast<uint16_t>(m), 0, 0});
    if (m != 1) star.links.push_back({static_cast<uint16_t>(m), 1, 0});
  }
  CollectTree t = plan_tree(0, motes_from(1, 5), star, 4, 3);
  expect_sound_tree(t, star, 4, 3);
  ASSERT_NE(t.find(5), nullptr);
  EXPECT_EQ(t.find(5)->parent, 1);
  EXPECT_TRUE(t.unreachable.empty());
}

CompileResult compile_text(const std::string& text) {
  ParseResult parsed = parse(text, "c.query");
  EXPECT_TRUE(parsed.errors.empty()) << format(parsed.errors.front());
  return compile(parsed.file);
}

TEST(Collect, TwentyMotesCompileWithinEveryLimitAndRelayToTheHost) {
  CompileResult r = compile_text("motes 20\nquery 1 at 2\n"
                                 "collect light every 5 from motes all except 0 to 0\n");
  for (const Diagnostic& d : r.errors) ADD_FAILURE() << format(d);
  EXPECT_TRUE(r.warnings.empty());
  ASSERT_EQ(r.plan.collects.size(), 1u);
  const CollectTree& t = r.plan.collects[0].tree;
  EXPECT_EQ(t.nodes.size(), 20u);
  // Each mote is told to open its streams and start; the records reach the
  // host through mote 0 with the sensor's layout.
  std::set<uint16_t> started;
  for (const TimedMessage& m : r.plan.messages) {
    if (m.message.msg_type == protocol::CODE_START_QUERY) started.insert(m.to);
  }
  EXPECT_EQ(started.size(), 20u);
  ASSERT_EQ(r.plan.results.size(), 1u);
  EXPECT_EQ(r.plan.results[0].layout, (Layout{"mote", "timestamp", "epoch", "light"}));
}

TEST(Collect, UnreachableSourcesAreAnErrorAtTheLineOrAWarningWhenAllowed) {
  const std::string links = "motes 4\nlink 3 0 0.5\nlink 3 1 0.5\nlink 3 2 0.5\nquery 1 at 2\n";
  CompileResult refused = compile_text(links + "collect light every 5 from motes 1-3 to 0\n");
  ASSERT_EQ(refused.errors.size(), 1u);
  EXPECT_TRUE(format(refused.errors[0]).starts_with("c.query:6: mote 3 cannot reach mote 0:"))
      << format(refused.errors[0]);

  CompileResult skipped =
      compile_text(links + "collect light every 5 from motes 1-3 to 0 skip_unreachable\n");
  for (const Diagnostic& d : skipped.errors) ADD_FAILURE() << format(d);
  ASSERT_EQ(skipped.warnings.size(), 1u);
  EXPECT_EQ(skipped.warnings[0].line, 6);
  ASSERT_EQ(skipped.plan.collects.size(), 1u);
  EXPECT_EQ(skipped.plan.collects[0].tree.find(3), nullptr);
  for (const TimedMessage& m : skipped.plan.messages) EXPECT_NE(m.to, 3);
}

TEST(Collect, ACollectingMoteOtherThanZeroSendsOnToZero) {
  CompileResult r = compile_text("motes 10\nquery 1 at 2\n"
                                 "collect temperature every 2 from motes 1-9 to 5\n");
  for (const Diagnostic& d : r.errors) ADD_FAILURE() << format(d);
  ASSERT_EQ(r.plan.collects.size(), 1u);
  const CollectTree& t = r.plan.collects[0].tree;
  EXPECT_EQ(t.root, 5);
  // Mote 5 keeps one channel for mote 0.
  EXPECT_LE(t.nodes[0].children.size(), 3u);
  ASSERT_EQ(r.plan.results.size(), 1u);
  EXPECT_EQ(r.plan.results[0].layout.back(), "temperature");

  CompileResult zero = compile_text("motes 3\nquery 1 at 2\ncollect light every 2 from motes 0-2 to 0\n");
  ASSERT_FALSE(zero.errors.empty());
  EXPECT_NE(zero.errors[0].text.find("leave it out of the sources"), std::string::npos);
}

}  // namespace
}  // namespace query_file

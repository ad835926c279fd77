// The topology library: the distance model at its edges, generated files as
// brelo reads them, and the refusals of the lossy-file and positions readers.

#include <gtest/gtest.h>

#include <cstdio>
#include <string>

#include "radio/connectivity.hpp"
#include "topology/distance_model.hpp"
#include "topology/lossy_file.hpp"
#include "topology/placement.hpp"

namespace {
using namespace topology;

// The entries brelo itself takes from `text`.
std::vector<LossyEntry> brelo_entries(const std::string& text) {
  std::FILE* file = ::fmemopen(const_cast<char*>(text.data()), text.size(), "r");
  std::vector<LossyEntry> entries = read_lossy_entries(file);
  std::fclose(file);
  return entries;
}

std::string errors_of(const LossyRead& read) {
  std::string text;
  for (const FileError& e : read.errors) text += format(e) + "\n";
  return text;
}

TEST(DistanceModel, PerfectUpToNearAbsentFromFarAndSmoothBetween) {
  const DistanceModel model{.near = 10, .far = 30};
  EXPECT_EQ(bit_error_probability(model, 0), 0.0);
  EXPECT_EQ(bit_error_probability(model, 10), 0.0);
  EXPECT_EQ(bit_error_probability(model, 30), 1.0);
  EXPECT_EQ(bit_error_probability(model, 1000), 1.0);
  EXPECT_DOUBLE_EQ(bit_error_probability(model, 20), 0.5);  // symmetric about the middle
  // Flat at both ends: a metre past near loses far less than a linear ramp would.
  EXPECT_LT(bit_error_probability(model, 11), 0.01);
  EXPECT_GT(bit_error_probability(model, 29), 0.99);
  double previous = 0;
  for (double d = 10; d <= 30; d += 0.25) {
    double p = bit_error_probability(model, d);
    EXPECT_GE(p, previous) << d;
    previous = p;
  }
}

TEST(LossyFile, AGeneratedGridIsWhatBreloReadsBothWaysWithoutFarPairs) {
  // A row of three motes 10 m apart: neighbours perfect, the ends 20 m apart
  // lossy, nothing beyond the far range.
  const DistanceModel model{.near = 15, .far = 30};
  std::string text = lossy_file_text(grid_placement(3, 1, 10), model);
  LossyRead read = read_lossy_text(text, "grid.nss");
  ASSERT_TRUE(read.errors.empty()) << errors_of(read);
  std::vector<LossyEntry> brelo = brelo_entries(text);
  ASSERT_EQ(read.links.size(), 6u);
  ASSERT_EQ(brelo.size(), read.links.size());
  for (std::size_t i = 0; i < brelo.size(); ++i) {
    EXPECT_EQ(brelo[i].sender, read.links[i].from);
    EXPECT_EQ(brelo[i].receiver, read.links[i].to);
    EXPECT_DOUBLE_EQ(brelo[i].probability, read.links[i].probability);
    double expected = std::abs(read.links[i].from - read.links[i].to) == 1 ? 0.0 : 0.259259;
    EXPECT_NEAR(read.links[i].probability, expected, 1e-6);
  }
  std::string wide = lossy_file_text(grid_placement(4, 1, 10), model);
  EXPECT_EQ(wide.find("0:3:"), std::string::npos) << "30 m apart is out of reach";
  EXPECT_EQ(wide.find("3:0:"), std::string::npos);
}

TEST(LossyFile, AcceptsEveryFormBreloReadsInFull) {
  // Entries may share a line, end their receiver with a space, and run
  // over a line feed.
  const std::string text = "3:7:0.25\n4:1 1e-3\t 5:6:0\n\n  1:4\n0.5\n2:0:1\n";
  LossyRead read = read_lossy_text(text, "f");
  ASSERT_TRUE(read.errors.empty()) << errors_of(read);
  ASSERT_EQ(read.links.size(), 5u);
  EXPECT_EQ(brelo_entries(text).size(), 5u);
  EXPECT_EQ(read.links[3].from, 1);
  EXPECT_EQ(read.links[3].line, 4);  // an entry is at the line it starts on
  EXPECT_DOUBLE_EQ(read.links[1].probability, 0.001);
}

TEST(LossyFile, RefusesWhatBreloWouldDropOrMisreadWithTheLine) {
  struct Case {
    std::string text;
    std::string error;
  };
  const Case cases[] = {
      {"0:1:0.5\r\n1:0:0.5\n", "f:1: expected a line feed after the probability 0.5, found a carriage return"},
      {"0:1:0.5\n# links\n", "f:2: expected a sending mote (digits), found '#'"},
      {"0:1:0.5\n1 :0:0.5\n", "f:2: expected ':' right after the sending mote 1, found a space"},
      {"0:1:0.5\n1::0.5\n", "f:2: expected the receiving mote (digits) after '1:', found ':'"},
      {"0:1:0.5\n1:0  0.5\n", "f:2: expected the probability right after the receiving mote 0, found a space"},
      {"0:1:0.5\n1:0:0.5", "f:2: the last entry has no line feed after it, so brelo would not use it"},
      {"0:1:0.5\n1:0:1-2\n", "f:2: the probability must be one number from 0 to 1, not '1-2'"},
      {"0:1:1.5\n", "f:1: the probability must be one number from 0 to 1, not '1.5'"},
      {"0:1000:0\n", "f:1: the receiving mote 1000 is not a mote: ids are 0 to 999"},
      {"2:2:0\n", "f:1: a link from mote 2 to itself"},
      {"0:1:0\n\n0:1:0.5\n", "f:3: the link 0->1 is already listed on line 1"},
      {"\n\n", "f: no links: no mote would hear any other"},
      {"0:1:" + std::string(128, '0') + "\n", "f:1: the probability is longer than 127 characters"},
  };
  for (const Case& c : cases) {
    LossyRead read = read_lossy_text(c.text, "f");
    EXPECT_NE(errors_of(read).find(c.error), std::string::npos)
        << "for " << c.text << " got: " << errors_of(read);
  }
}

TEST(LossyFile, LinksOutsideTheNetworkAreNamedWithTheirLinesAndTheRestCounted) {
  std::string text;
  for (int m = 1; m <= 9; ++m) text += "0:" + std::to_string(m) + ":0\n";
  LossyRead read = read_lossy_text(text, "f");
  std::vector<FileError> outside = motes_outside(read, "f", 3);
  ASSERT_EQ(outside.size(), 6u);
  EXPECT_EQ(format(outside[0]),
            "f:3: the link 0->3 names mote 3, which is not in the network of 3 motes (0 to 2)");
  EXPECT_EQ(format(outside[5]), "f: 2 more links name motes outside the network");
  EXPECT_TRUE(motes_outside(read, "f", 10).empty());
}

TEST(Placement, RandomPlacementsStayInTheAreaAndRepeatWithTheSeed) {
  std::vector<Position> a = random_placement(50, 100, 20, 7);
  std::vector<Position> b = random_placement(50, 100, 20, 7);
  std::vector<Position> c = random_placement(50, 100, 20, 8);
  ASSERT_EQ(a.size(), 50u);
  for (std::size_t i = 0; i < a.size(); ++i) {
    EXPECT_EQ(a[i].x, b[i].x);
    EXPECT_EQ(a[i].y, b[i].y);
    EXPECT_TRUE(a[i].x >= 0 && a[i].x < 100 && a[i].y >= 0 && a[i].y < 20);
  }
  EXPECT_NE(a[0].x, c[0].x);
}

TEST(Placement, APositionsFileReadsBackAndItsMistakesHaveLines) {
  std::vector<Position> grid = grid_placement(2, 2, 7.5);
  PlacementRead back = read_placement("# two rows\n" + placement_text(grid), "p");
  ASSERT_TRUE(back.errors.empty());
  ASSERT_EQ(back.positions.size(), 4u);
  EXPECT_EQ(back.positions[3].x, 7.5);
  EXPECT_EQ(back.positions[3].y, 7.5);

  auto first_error = [](const std::string& text) {
    PlacementRead read = read_placement(text, "p");
    return read.errors.empty() ? std::string() : format(read.errors[0]);
  };
  EXPECT_EQ(first_error("0 0 0\n1 5\n"), "p:2: expected 'mote x y' (three words), found 2");
  EXPECT_EQ(first_error("0 0 0\n1 5 north\n"), "p:2: the position of mote 1 must be two numbers (metres)");
  EXPECT_EQ(first_error("0 0 0\n1000 1 1\n"),
            "p:2: the mote must be a whole number from 0 to 999, not '1000'");
  EXPECT_EQ(first_error("0 0 0\n0 1 1\n"), "p:2: mote 0 is already placed on line 1");
  EXPECT_EQ(first_error("0 0 0\n2 1 1\n"), "p: mote 1 is not placed (every mote from 0 to 2 needs a line)");
  EXPECT_EQ(first_error("# none\n"), "p: no motes placed");
}

}  // namespace

// The connectivity models: the lossy file, who hears whom, and link changes.

#include "radio/connectivity.hpp"

#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <limits>
#include <string>
#include <thread>
#include <tuple>

#include "support/output.hpp"
#include "support/world_test.hpp"

namespace {
using support::output_of;

class Connectivity : public WorldTest {
 protected:
  void SetUp() override {
    WorldTest::SetUp();
    std::srand(1);
    noise_prob = 0.0;
    lossyFileName = "lossy.nss";
  }
  void TearDown() override {
    create_simple_model();
    WorldTest::TearDown();
  }

  static std::string write_file(const std::string& text) {
    // One file per process: ctest runs the tests of this file side by side.
    std::string path =
        ::testing::TempDir() + "connectivity_test_" + std::to_string(::getpid()) + ".nss";
    std::FILE* file = std::fopen(path.c_str(), "w");
    std::fputs(text.c_str(), file);
    std::fclose(file);
    return path;
  }
  static void lossy(int motes, const std::string& text) {
    vex_state.num_nodes = static_cast<int16_t>(motes);
    create_lossy_model(write_file(text).c_str());
    radio_model_init();
  }
  static void simple(int motes) {
    vex_state.num_nodes = static_cast<int16_t>(motes);
    create_simple_model();
    radio_model_init();
  }
  // The links of a sender as (receiver, probability), head first.
  static std::vector<std::pair<int, double>> links_of(int mote) {
    std::vector<std::pair<int, double>> links;
    for (link_t* l = rfm->neighbors(mote); l != nullptr; l = l->next_link) {
      links.emplace_back(l->mote, l->data);
    }
    return links;
  }
  static std::vector<int> hearing(int motes) {
    std::vector<int> heard;
    for (int m = 0; m < motes; ++m) heard.push_back(rfm->hears(m));
    return heard;
  }
};

using LossyFile = Connectivity;
using SimpleModel = Connectivity;
using LossyModel = Connectivity;
using LinkProbability = Connectivity;

std::vector<LossyEntry> entries_of(const std::string& text) {
  std::FILE* file = fmemopen(const_cast<char*>(text.data()), text.size(), "r");
  std::vector<LossyEntry> entries = read_lossy_entries(file);
  std::fclose(file);
  return entries;
}

std::vector<std::tuple<int64_t, int64_t, double>> triples(const std::string& text) {
  std::vector<std::tuple<int64_t, int64_t, double>> out;
  for (const LossyEntry& e : entries_of(text))
    out.emplace_back(e.sender, e.receiver, e.probability);
  return out;
}
using Triples = std::vector<std::tuple<int64_t, int64_t, double>>;

int count_lines(const std::string& text) {
  return static_cast<int>(std::count(text.begin(), text.end(), '\n'));
}
}  // namespace

TEST_F(LossyFile, BothSeparatorsAndLeadingWhiteSpaceAreRead) {
  EXPECT_EQ(triples("3:7:0.25\n3:7 0.25\n \t\n12:4:1e-2\t5:6 .5 "),
            (Triples{{3, 7, 0.25}, {3, 7, 0.25}, {12, 4, 0.01}, {5, 6, 0.5}}));
  EXPECT_EQ(triples("3::0.5\n"), (Triples{{3, 0, 0.5}}));  // an empty receiver before ':' is 0
}

TEST_F(LossyFile, ReadingStopsAtTheFirstMisfitKeepingCompletedEntries) {
  EXPECT_EQ(triples("0:1:0.5\n1:2:0.5\r\n2:3:0.5\n"), (Triples{{0, 1, 0.5}}));  // carriage return
  EXPECT_EQ(triples("0:1:0.5\n1:2:0.5"), (Triples{{0, 1, 0.5}}));     // unterminated last entry
  EXPECT_EQ(triples("0:1:0.5\n1 :2:0.5\n"), (Triples{{0, 1, 0.5}}));  // space before ':'
  EXPECT_EQ(triples("0:1:0.5\n1:2  0.5\n"), (Triples{{0, 1, 0.5}}));  // space after separator
  EXPECT_EQ(triples("0:1:0.5\n1:\n0.5\n"), (Triples{{0, 1, 0.5}}));   // empty receiver before space
  EXPECT_EQ(triples("0:1:0.5\n:2:0.5\n"), (Triples{{0, 1, 0.5}}));    // no sender
  EXPECT_EQ(triples("0:1:0.5\n1:2:x\n"), (Triples{{0, 1, 0.5}}));
  EXPECT_EQ(triples(""), Triples{});
}

TEST_F(LossyFile, OverlongFieldsEndReadingAndHugeIdsSaturate) {
  std::string long_probability = "0." + std::string(130, '1');
  EXPECT_EQ(triples("0:1:0.5\n2:3:" + long_probability + "\n4:5:0.5\n"), (Triples{{0, 1, 0.5}}));
  auto entries = entries_of("99999999999999999999999:1:0.5\n");
  ASSERT_EQ(entries.size(), 1u);
  EXPECT_EQ(entries[0].sender, std::numeric_limits<int64_t>::max());
}

TEST_F(LossyFile, PairsTwiceMakeTwoLinksSelfLinksAndOutOfRangeIdsAreLeftOut) {
  std::string out = output_of(DBG_ERROR, [] {
    lossy(4, "0:1:0.5\n0:1:0.25\n2:2:0.5\n1:1000:0.5\n1000:1:0.5\n99999999999:2:0.1\n3:2:0.75\n");
  });
  EXPECT_EQ(links_of(0), (std::vector<std::pair<int, double>>{{1, 0.25}, {1, 0.5}}));
  EXPECT_TRUE(links_of(1).empty());
  EXPECT_TRUE(links_of(2).empty());
  EXPECT_EQ(links_of(3), (std::vector<std::pair<int, double>>{{2, 0.75}}));
  EXPECT_EQ(count_lines(out), 3);
  EXPECT_NE(out.find("RFM: Ignoring link 1->1000 in "), std::string::npos);

  // Both links of a doubled pair carry the sender's bits.
  lossy(2, "0:1:0.0\n0:1:0.0\n");
  rfm->transmit(0, 1);
  EXPECT_EQ(radio_active[1], 2);
  rfm->stop_transmit(0);
  EXPECT_EQ(radio_active[1], 0);
}

TEST_F(LossyFile, MissingFileMeansOneLosslessCell) {
  vex_state.num_nodes = 3;
  create_lossy_model((::testing::TempDir() + "no_such_file.nss").c_str());
  std::string out = output_of(DBG_SIM, [] { radio_model_init(); });
  EXPECT_NE(out.find("Cannot open "), std::string::npos);
  EXPECT_EQ(links_of(1), (std::vector<std::pair<int, double>>{{2, 0.0}, {0, 0.0}}));
}

TEST_F(SimpleModel, OneCellWhereEveryMoteHearsEveryOneIncludingItself) {
  simple(3);
  EXPECT_EQ(links_of(0), (std::vector<std::pair<int, double>>{{2, 0.0}, {1, 0.0}}));
  EXPECT_TRUE(rfm->connected(0, 5));
  EXPECT_EQ(hearing(3), (std::vector<int>{0, 0, 0}));
  rfm->transmit(1, 1);
  EXPECT_EQ(hearing(3), (std::vector<int>{1, 1, 1}));
  rfm->transmit(2, 0);  // a 0 is silence; the 1 still wins
  EXPECT_EQ(hearing(3), (std::vector<int>{1, 1, 1}));
  rfm->stop_transmit(1);
  rfm->stop_transmit(2);
  EXPECT_EQ(hearing(3), (std::vector<int>{0, 0, 0}));
  rfm->stop_transmit(1);  // withdrawing twice takes nothing more away
  EXPECT_EQ(ones_arriving_at(0), 0);
}

TEST_F(LossyModel, OnlyLinkedReceiversHearAndProbabilityOneInvertsEveryBit) {
  lossy(4, "0:1:0.0\n0:2:1.0\n");
  rfm->transmit(0, 1);
  EXPECT_EQ(hearing(4), (std::vector<int>{0, 1, 0, 0}));
  rfm->stop_transmit(0);
  rfm->transmit(0, 0);  // a silent-but-sending 0 arrives inverted as a 1
  EXPECT_EQ(hearing(4), (std::vector<int>{0, 0, 1, 0}));
  rfm->stop_transmit(0);
  rfm->transmit(1, 1);  // no link back
  EXPECT_EQ(rfm->hears(0), 0);
  EXPECT_TRUE(rfm->connected(0, 1));
  EXPECT_FALSE(rfm->connected(0, 2));  // probability 1.0 is no connection
  EXPECT_FALSE(rfm->connected(1, 0));
}

TEST_F(LossyModel, SixteenSilentSamplesMakeTheChannelIdleUntilANeighbourSends) {
  lossy(2, "0:1:0.0\n");
  rfm->transmit(0, 1);
  EXPECT_EQ(rfm->hears(1), 1);
  rfm->stop_transmit(0);
  for (int i = 0; i < 15; ++i) rfm->hears(1);
  EXPECT_FALSE(radio_idle_state[1]);
  rfm->hears(1);
  EXPECT_TRUE(radio_idle_state[1]);
  EXPECT_EQ(rfm->hears(1), 0);  // no noise at noise_prob 0
  noise_prob = 1.0;
  EXPECT_EQ(rfm->hears(1), 1);  // an idle channel makes noise at that probability
  rfm->transmit(0, 0);
  EXPECT_FALSE(radio_idle_state[1]);
  EXPECT_EQ(rfm->hears(1), 0);
}

TEST_F(LinkProbability, SetsOrCreatesTheLinkAndLogsIt) {
  lossy(5, "3:4:0.0\n");
  std::string out = output_of(DBG_SIM, [] { set_link_prob_value(3, 4, 5000 / 10000.0); });
  EXPECT_EQ(out, "0: RFM: KRT: Setting loss prob 3->4 to 0.500\n");
  EXPECT_EQ(links_of(3), (std::vector<std::pair<int, double>>{{4, 0.5}}));
  set_link_prob_value(4, 3, 0.25);
  EXPECT_EQ(links_of(4), (std::vector<std::pair<int, double>>{{3, 0.25}}));
  // Under the simple model too.
  simple(2);
  set_link_prob_value(0, 1, 0.75);
  EXPECT_EQ(links_of(0), (std::vector<std::pair<int, double>>{{1, 0.75}}));
}

TEST_F(LinkProbability, IdsBeyondTheTablesAndNonNumbersAreRefusedOthersBounded) {
  lossy(2, "0:1:0.5\n");
  std::string out = output_of(DBG_ERROR | DBG_SIM, [] {
    set_link_prob_value(1000, 1, 0.5);
    set_link_prob_value(0, 65535, 0.5);
    set_link_prob_value(0, 1, std::nan(""));
  });
  EXPECT_EQ(count_lines(out), 3);
  EXPECT_EQ(out.find("Setting loss prob"), std::string::npos);
  EXPECT_EQ(links_of(0), (std::vector<std::pair<int, double>>{{1, 0.5}}));

  set_link_prob_value(0, 1, 42.0);
  EXPECT_EQ(links_of(0), (std::vector<std::pair<int, double>>{{1, 1.0}}));
  EXPECT_FALSE(rfm->connected(0, 1));
  set_link_prob_value(0, 1, -3.0);
  EXPECT_EQ(links_of(0), (std::vector<std::pair<int, double>>{{1, 0.0}}));
}

// The control thread adds links (allocating new blocks) while the simulation
// thread sends bits over them and walks the sender's list.
TEST_F(LinkProbability, ChangesFromTheControlThreadWhileBitsTravel) {
  lossy(VEXNODES, "0:1:0.0\n");
  std::thread control([] {
    for (int to = 2; to < VEXNODES; ++to) set_link_prob_value(0, static_cast<uint16_t>(to), 0.0);
  });
  long walked = 0;
  for (int i = 0; i < 2000; ++i) {
    rfm->transmit(0, 1);
    for (link_t* l = rfm->neighbors(0); l != nullptr; l = l->next_link) ++walked;
    rfm->stop_transmit(0);
  }
  control.join();
  EXPECT_GT(walked, 0);
  EXPECT_EQ(links_of(0).size(), static_cast<std::size_t>(VEXNODES - 1));
  rfm->transmit(0, 1);
  EXPECT_EQ(rfm->hears(VEXNODES - 1), 1);
  EXPECT_EQ(rfm->hears(0), 0);
}

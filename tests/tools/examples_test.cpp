// Every example query run end to end: brelo-ctl starts a brelo of its own,
// installs the example, and the results it prints are checked against the
// ADC values the example sets.

#include <gtest/gtest.h>

#include <set>

#include "run_results.hpp"

namespace query_run_test {
namespace {

// Runs an example; the run must end by itself, cleanly, with results.
RunOutput run_example(const std::string& name) {
  RunOutput run = run_json(example(name));
  EXPECT_TRUE(run.tool.status.exited && run.tool.status.code == 0)
      << name << ": status " << run.tool.status.code << "\n" << run.tool.err;
  EXPECT_TRUE(run.all_lines_read) << run.tool.out;
  EXPECT_EQ(complaints_in(run.tool.err), "");
  return run;
}

TEST(Examples, SelectionKeepsTheReadingsAbove128) {
  RunOutput run = run_example("selection");
  // Two readings a second from 2 s to 15 s; random values, about half pass.
  EXPECT_GE(run.rows.size(), 4u);
  EXPECT_LE(run.rows.size(), 20u);
  for (const Row& r : run.rows) {
    EXPECT_EQ(r.mote, 0);
    EXPECT_GT(r.fields.at("light"), 128);
  }
}

TEST(Examples, ProjectionKeepsTheReadingAndItsTimestamp) {
  RunOutput run = run_example("projection");
  ASSERT_GE(run.rows.size(), 5u);
  for (std::size_t i = 0; i < run.rows.size(); ++i) {
    const Row& r = run.rows[i];
    EXPECT_FALSE(r.mote);
    EXPECT_FALSE(r.epoch);
    EXPECT_EQ(r.fields, (std::map<std::string, int>{{"temperature", 150}}));
    if (i > 0) {
      EXPECT_EQ(*r.timestamp, *run.rows[i - 1].timestamp + 1);
    }
  }
}

TEST(Examples, SynchronousJoinPairsLightWithAcceleration) {
  RunOutput run = run_example("sync_join");
  ASSERT_GE(run.rows.size(), 5u);
  for (const Row& r : run.rows) {
    EXPECT_EQ(r.mote, 0);
    EXPECT_EQ(r.fields.at("light"), 201);
    EXPECT_EQ(r.fields.at("accelx"), 100);
    EXPECT_EQ(r.fields.at("epoch_2"), *r.epoch);
  }
}

TEST(Examples, MergeJoinCatchesUpOnTheFasterStream) {
  RunOutput run = run_example("merge_join");
  // Light comes every two seconds: one joined record each time.
  ASSERT_GE(run.rows.size(), 5u);
  EXPECT_LE(run.rows.size(), 7u);
  for (std::size_t i = 0; i < run.rows.size(); ++i) {
    const Row& r = run.rows[i];
    EXPECT_EQ(r.fields.at("light"), 100);
    EXPECT_EQ(r.fields.at("temperature"), 250);
    if (i > 0) {
      EXPECT_EQ(*r.timestamp, *run.rows[i - 1].timestamp + 2);
    }
  }
}

TEST(Examples, PairAverageAveragesMatchedReadings) {
  RunOutput run = run_example("pair_avg");
  int pairs = 0;
  for (const Row& r : run.rows) {
    int count = r.fields.at("count");
    if (count == 2) {
      ++pairs;
      EXPECT_EQ(r.fields.at("avg"), 150);  // (100 + 201) / 2
    } else if (count == 1) {
      EXPECT_EQ(r.fields.at("avg"), 100);  // acceleration alone
    } else {
      EXPECT_EQ(count, 256);               // light alone, marked
      EXPECT_EQ(r.fields.at("avg"), 201);
    }
  }
  EXPECT_GE(pairs, 5);
}

TEST(Examples, PairMaximumKeepsTheLargerReading) {
  RunOutput run = run_example("max_min");
  int larger = 0;
  for (const Row& r : run.rows) {
    int max = r.fields.at("max");
    EXPECT_TRUE(max == 100 || max == 250) << max;
    if (max == 250) ++larger;
  }
  EXPECT_GE(larger, 5);
}

TEST(Examples, WindowAverageGivesOneRecordPerEpoch) {
  RunOutput run = run_example("window");
  ASSERT_EQ(run.rows.size(), 3u);
  for (std::size_t i = 0; i < run.rows.size(); ++i) {
    EXPECT_EQ(run.rows[i].fields.at("avg(light)"), 200);
    EXPECT_EQ(run.rows[i].epoch, static_cast<int>(i));
  }
}

TEST(Examples, CollectionGathersTheReadingsOfThreeMotes) {
  RunOutput run = run_example("collection");
  const std::map<int, int> light = {{1, 100}, {2, 200}, {3, 250}};
  std::map<int, int> per_mote;
  for (const Row& r : run.rows) {
    ASSERT_TRUE(r.mote);
    ++per_mote[*r.mote];
    EXPECT_EQ(r.fields.at("light"), light.at(*r.mote));
    EXPECT_GE(r.time, 2.0);
    EXPECT_LE(r.time, 20.0);
  }
  EXPECT_EQ(per_mote.size(), 3u);
  for (auto [mote, count] : per_mote) EXPECT_GE(count, 12) << "mote " << mote;

  // The summary: one reading a second from each mote's start (a little
  // after 2 s) to 20 s, about 17; what came is what the rows show.
  ASSERT_TRUE(run.delivery) << run.tool.out;
  ASSERT_EQ(run.delivery->size(), 3u);
  for (auto [mote, d] : *run.delivery) {
    EXPECT_GE(d.expected, 16) << "mote " << mote;
    EXPECT_LE(d.expected, 18) << "mote " << mote;
    EXPECT_EQ(d.received, per_mote[mote]) << "mote " << mote;
    EXPECT_GE(d.received, d.expected - 1) << "mote " << mote;
  }
  for (const char* row : {"     1        1", "     2        1", "     3        1"}) {
    EXPECT_NE(run.tool.err.find(row), std::string::npos) << run.tool.err;
  }
}

TEST(Examples, DeliveryOfFilteredOrMergedRecordsIsNotGuessed) {
  // A selection keeps an unknown share of the readings: nothing to expect.
  RunOutput run = run_json(example("selection"));
  ASSERT_TRUE(run.delivery) << run.tool.out;
  ASSERT_EQ(run.delivery->size(), 1u);
  EXPECT_EQ(run.delivery->at(0).expected, -1);
  EXPECT_EQ(run.delivery->at(0).received, static_cast<int>(run.rows.size()));
  EXPECT_NE(run.tool.err.find("     0         -"), std::string::npos) << run.tool.err;
}

TEST(Examples, TreeCollectionDeliversFromEverySourceThroughRelays) {
  RunOutput run = run_example("tree_collection");
  // Installed from 2 s on, one reading every 5 s per mote until 40 s: at
  // least four from each of motes 1 to 19, relayed up to three hops, each
  // still naming the mote that sampled it.
  std::map<int, int> per_mote;
  for (const Row& r : run.rows) {
    ASSERT_TRUE(r.mote);
    ++per_mote[*r.mote];
    EXPECT_EQ(r.fields.at("light"), 100);
  }
  ASSERT_EQ(per_mote.size(), 19u);
  for (auto [mote, count] : per_mote) {
    EXPECT_GE(mote, 1);
    EXPECT_GE(count, 4) << "mote " << mote;
  }
}

TEST(Examples, GridCollectionReachesEveryOneOfNinetyNineSources) {
  // Cut short after the first sampling period of the last mote started: the
  // starts of the 96 motes mote 0 does not reach take 24 s from 2 s on, and
  // each mote samples 30 s after its start.
  RunOutput run = run_json(example("grid_collection"), {"--until", "60"});
  ASSERT_EQ(run.tool.status.code, 0) << run.tool.err;
  std::set<int> sources;
  for (const Row& r : run.rows) sources.insert(r.mote.value_or(-1));
  EXPECT_EQ(sources.size(), 99u);
  EXPECT_EQ(sources.count(0), 0u);
}

}  // namespace
}  // namespace query_run_test

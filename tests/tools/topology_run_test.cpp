// brelo-ctl topology and run --topology together: a generated grid is what
// brelo's lossy model runs on, and a file that cannot work stops the run.

#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <set>

#include "run_results.hpp"

namespace query_run_test {
namespace {
namespace fs = std::filesystem;
using control_test::run_tool;

// A folder of the test's own, removed at the end.
class TempFolder {
 public:
  TempFolder() {
    char name[] = "/tmp/brelo-topology-XXXXXX";
    path_ = ::mkdtemp(name);
  }
  ~TempFolder() { fs::remove_all(path_); }
  std::string write(const std::string& name, const std::string& text) const {
    std::string path = (path_ / name).string();
    std::ofstream(path) << text;
    return path;
  }
  std::string path(const std::string& name) const { return (path_ / name).string(); }

 private:
  fs::path path_;
};

// Motes 1 and 2 send light readings to mote 0.
const char* const two_senders =
    "motes 3\nuntil 8\nadc all light 500\nquery 1 at 2\n"
    "on mote 0\n  stream arriving = remote 9 buffer 8\n  serial arriving\n"
    "on motes 1-2\n  stream light = sensor light every 1\n  stream to_base = remote 9 to 0\n"
    "  send light -> to_base\n";

std::set<int> senders(const RunOutput& run) {
  std::set<int> motes;
  for (const Row& row : run.rows) motes.insert(row.mote.value_or(-1));
  return motes;
}

TEST(TopologyRun, AGeneratedRowDeliversFromTheNeighbourOnlyAsTheDistanceModelSays) {
  TempFolder folder;
  // Three motes 10 m apart: mote 1 is within the near range of mote 0,
  // mote 2 (20 m) has a link flipping about a quarter of its bits.
  control_test::ToolResult made =
      run_tool({"topology", "--grid", "3x1", "--spacing", "10", "--out", folder.path("row.nss")});
  ASSERT_EQ(made.status.code, 0) << made.err;
  std::string query = folder.write("two.query", two_senders);

  RunOutput simple = run_json(query);
  ASSERT_EQ(simple.tool.status.code, 0) << simple.tool.err;
  EXPECT_EQ(senders(simple), (std::set<int>{1, 2}));

  RunOutput lossy = run_json(query, {"--topology", folder.path("row.nss")});
  ASSERT_EQ(lossy.tool.status.code, 0) << lossy.tool.err;
  EXPECT_EQ(senders(lossy), (std::set<int>{1}));
  EXPECT_GE(lossy.rows.size(), 4u);

  // The same through the file's own statement, relative to the query file.
  std::string with_statement = folder.write("with.query", std::string("topology row.nss\n") + two_senders);
  RunOutput stated = run_json(with_statement);
  EXPECT_EQ(stated.tool.out, lossy.tool.out);
}

TEST(TopologyRun, AFileThatCannotWorkIsRefusedWithItsLinesBeforeAnythingRuns) {
  TempFolder folder;
  std::string query = folder.write("two.query", two_senders);
  std::string links = folder.write("links.nss", "0:1:0\n1:0:0\n0:7:0\n1:2:0.1\r\n");
  control_test::ToolResult r = run_tool({"run", query, "--topology", links});
  EXPECT_EQ(r.status.code, 2);
  EXPECT_TRUE(r.out.empty()) << r.out;
  EXPECT_NE(r.err.find(links + ":4: expected a line feed after the probability 0.1, found a carriage return"),
            std::string::npos)
      << r.err;
  EXPECT_NE(r.err.find(links + ":3: the link 0->7 names mote 7, which is not in the network of 3 motes"),
            std::string::npos)
      << r.err;

  std::string missing = folder.write("missing.query", std::string(two_senders) + "topology none.nss\n");
  r = run_tool({"run", missing, "--check"});
  EXPECT_EQ(r.status.code, 2);
  EXPECT_NE(r.err.find(missing + ":12: cannot read the topology file " + folder.path("none.nss")),
            std::string::npos)
      << r.err;
}

TEST(TopologyRun, AGridBeyondMoteZerosReachIsInstalledAndDeliversFromEverySource) {
  TempFolder folder;
  // A 4 x 4 grid, 10 m apart, links only to the eight neighbours: mote 0,
  // in a corner, reaches motes 1, 4 and 5; the rest are installed directly
  // and their records climb a relay tree up to six hops.
  control_test::ToolResult made =
      run_tool({"topology", "--grid", "4x4", "--spacing", "10", "--near", "15", "--far", "19",
                "--out", folder.path("grid.nss")});
  ASSERT_EQ(made.status.code, 0) << made.err;
  std::string query = folder.write(
      "grid.query",
      "motes 16\nuntil 40\ntopology grid.nss\nadc all light 400\nquery 1 at 2\n"
      "collect light every 5 from motes all except 0 to 0\n");

  control_test::ToolResult check = run_tool({"run", query, "--check"});
  ASSERT_EQ(check.status.code, 0) << check.err;
  EXPECT_NE(check.out.find("mote 0 does not reach motes 2-3,6-15: their messages go straight "
                           "to their radios"),
            std::string::npos)
      << check.out;

  RunOutput run = run_json(query);
  ASSERT_EQ(run.tool.status.code, 0) << run.tool.err;
  ASSERT_TRUE(run.delivery) << run.tool.out;
  EXPECT_EQ(run.delivery->size(), 15u);
  for (auto [mote, d] : *run.delivery) {
    EXPECT_GE(d.received, 4) << "mote " << mote;
    EXPECT_LE(d.received, d.expected) << "mote " << mote;
  }
}

}  // namespace
}  // namespace query_run_test

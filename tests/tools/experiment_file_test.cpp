// Experiment files: the reader's refusals (each at its line), and the runs
// a file names, in their fixed order.

#include "experiments/experiment_file.hpp"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "experiments/run_list.hpp"

namespace {
using namespace experiments;
namespace fs = std::filesystem;

// A folder with two query files and a lossy-link file beside the experiment.
class ExperimentFile : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = fs::temp_directory_path() / ("brelo-exp-" + std::to_string(::getpid()));
    fs::create_directories(dir_);
    for (const char* name : {"a.query", "b.query", "grid.lossy"}) std::ofstream(dir_ / name) << "\n";
  }
  void TearDown() override { fs::remove_all(dir_); }

  ExperimentParse read(const std::string& text) { return parse_experiment(text, (dir_ / "x.exp").string()); }

  // The one error of `text`, without the folder.
  std::string error_of(const std::string& text) {
    ExperimentParse p = read(text);
    EXPECT_EQ(p.errors.size(), 1u) << text;
    if (p.errors.empty()) return "";
    std::string e = p.errors[0];
    return e.substr(e.find("x.exp:"));
  }

  fs::path dir_;
};

TEST_F(ExperimentFile, MistakesAreReportedAtTheirLines) {
  EXPECT_EQ(error_of("query a.query\nfrobnicate 3\n"),
            "x.exp:2: unknown statement 'frobnicate' (expected name, query, vary, set or repeat)");
  EXPECT_EQ(
      error_of("query a.query\nvary sed 1..3\n"),
      "x.exp:2: unknown parameter 'sed' (expected motes, seed, link_p, period, topology, fast or until)");
  EXPECT_EQ(error_of("query a.query\n\nvary motes 0, 5\n"),
            "x.exp:3: '0' is not a number of motes from 1 to 1000");
  EXPECT_EQ(error_of("query a.query\nvary link_p 0.1, 1.5\n"),
            "x.exp:2: '1.5' is not a bit-error probability from 0 to 1");
  EXPECT_EQ(error_of("query a.query\nvary link_p 0..1\n"),
            "x.exp:2: link_p takes a list (a, b, c); ranges a..b are for whole numbers");
  EXPECT_EQ(error_of("query a.query\nvary seed 5..2\n"),
            "x.exp:2: range 5..2 of seed: needs a seed from 0 to 2147483647 at both ends, the lower first");
  EXPECT_EQ(error_of("query a.query\nvary seed 1, 2, 1\n"), "x.exp:2: seed 1 is listed twice");
  EXPECT_EQ(error_of("query a.query\nvary seed 1..3\nset seed 4\n"),
            "x.exp:3: seed is already given on line 2");
  EXPECT_EQ(error_of("query a.query\nset until 10, 20\n"),
            "x.exp:2: 'set until' takes one value; 'vary' takes several");
  EXPECT_EQ(error_of("query a.query\nset fast maybe\n"), "x.exp:2: 'maybe' is not yes or no");
  EXPECT_EQ(error_of("query a.query\nrepeat 3\nvary seed 1..2\n"),
            "x.exp:2: give 'repeat' or a seed, not both: the same seed repeats the same run; "
            "'repeat N' runs seeds 1 to N");
  EXPECT_EQ(error_of("name two words\nquery a.query\n"),
            "x.exp:1: 'name' takes one word of letters, digits, '_', '-' or '.'");
  // Files are looked for beside the experiment file, and must be there.
  EXPECT_NE(error_of("query missing.query\n").find("x.exp:1: cannot read query file "), std::string::npos);
  EXPECT_NE(error_of("query a.query\nvary topology grid.lossy, none.lossy\n")
                .find("x.exp:2: cannot read lossy-link file"),
            std::string::npos);
  EXPECT_EQ(error_of("# nothing to run\nset until 10\n"),
            "x.exp:2: no 'query' line: an experiment runs at least one query file");
}

TEST_F(ExperimentFile, RunsAreNamedByTheirParametersInAFixedOrder) {
  ExperimentParse p = read(
      "name links   # the experiment\n"
      "query a.query\nquery b.query\n"
      "vary link_p 0.001, 0\n"  // listed out of order: runs go from the lowest
      "set until 60\n"
      "vary seed 1..2\n"
      "vary topology grid.lossy\n"
      "set fast yes\n");
  ASSERT_TRUE(p.errors.empty()) << p.errors[0];
  EXPECT_EQ(p.experiment.name, "links");
  std::vector<RunSetup> runs = expand(p.experiment);
  std::vector<std::string> ids;
  for (const RunSetup& r : runs) ids.push_back(r.id);
  EXPECT_EQ(ids, (std::vector<std::string>{
                     "query=a,seed=1,link_p=0,topology=grid", "query=a,seed=1,link_p=0.001,topology=grid",
                     "query=a,seed=2,link_p=0,topology=grid", "query=a,seed=2,link_p=0.001,topology=grid",
                     "query=b,seed=1,link_p=0,topology=grid", "query=b,seed=1,link_p=0.001,topology=grid",
                     "query=b,seed=2,link_p=0,topology=grid", "query=b,seed=2,link_p=0.001,topology=grid"}));
  // 'set' values reach every run and its parameters, not its name.
  const RunSetup& last = runs.back();
  EXPECT_EQ(last.until, 60);
  EXPECT_EQ(last.fast, true);
  EXPECT_EQ(last.seed, 2u);
  EXPECT_EQ(last.topology, (dir_ / "grid.lossy").string());
  // Paths as the file writes them, the same on every machine.
  EXPECT_EQ(last.parameters,
            R"({"query":"b","seed":2,"link_p":0.001,"topology":"grid.lossy","fast":true,"until":60})");
  // The same text gives the same runs.
  std::vector<RunSetup> again = expand(
      read("name links\nquery a.query\nquery b.query\nvary link_p 0.001, 0\nset until 60\nvary seed 1..2\n"
           "vary topology grid.lossy\nset fast yes\n")
          .experiment);
  ASSERT_EQ(again.size(), runs.size());
  for (std::size_t i = 0; i < runs.size(); ++i) EXPECT_EQ(again[i].id, runs[i].id);
}

TEST_F(ExperimentFile, RepeatRunsSeedsOneToN) {
  ExperimentParse p = read("query a.query\nrepeat 3\nvary motes 10, 20\n");
  ASSERT_TRUE(p.errors.empty()) << p.errors[0];
  EXPECT_EQ(p.experiment.name, "x");  // the file's stem
  std::vector<RunSetup> runs = expand(p.experiment);
  ASSERT_EQ(runs.size(), 6u);
  EXPECT_EQ(runs[0].id, "query=a,motes=10,seed=1");
  EXPECT_EQ(runs[5].id, "query=a,motes=20,seed=3");
  EXPECT_EQ(runs[5].seed, 3u);
}

}  // namespace

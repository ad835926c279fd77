// Merging the part databases of a cluster's tasks, and the batch script
// each task runs.

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>

#include "experiments/collect.hpp"
#include "experiments/slurm.hpp"
#include "experiments/sqlite_handle.hpp"

namespace experiments {
namespace {
namespace fs = std::filesystem;

const char* schema =
    "CREATE TABLE runs(run_id TEXT PRIMARY KEY, experiment TEXT, parameters TEXT, seed INTEGER, status TEXT);"
    "CREATE TABLE results(run_id TEXT NOT NULL REFERENCES runs(run_id), time REAL, mote INTEGER, fields TEXT);"
    "CREATE INDEX results_run ON results(run_id);"
    "CREATE TABLE delivery(run_id TEXT NOT NULL, mote INTEGER, expected INTEGER, received INTEGER);"
    "CREATE TABLE meta(key TEXT PRIMARY KEY, value TEXT);";

class CollectTest : public ::testing::Test {
 protected:
  void SetUp() override {
    char name[] = "/tmp/brelo_collect_XXXXXX";
    ASSERT_NE(mkdtemp(name), nullptr);
    dir_ = name;
    plan_ = {.experiment_file = "e.experiment", .name = "e", .experiment_hash = "abc",
             .run_ids = {"seed=1", "seed=2", "seed=3"}};
  }
  void TearDown() override { fs::remove_all(dir_); }

  // A part holding `runs`, each with two results and one delivery row.
  void part(int k, const std::vector<std::string>& runs, const std::string& hash = "abc") {
    Database db(dir_ / ("part_" + std::to_string(k) + ".sqlite"), true);
    db.execute(schema);
    db.execute("INSERT INTO meta VALUES ('experiment_hash', '" + hash + "'), ('schema_version', '1')");
    for (const auto& id : runs) {
      db.execute("INSERT INTO runs VALUES ('" + id + "', 'e', '{}', 7, 'done')");
      db.execute("INSERT INTO results VALUES ('" + id + "', 1.25, 1, '{\"light\": 3}'), ('" + id +
                 "', 2.5, 2, NULL)");
      db.execute("INSERT INTO delivery VALUES ('" + id + "', 1, NULL, 4)");
    }
  }
  std::string query(const std::string& sql) {
    Database db(target(), false);
    Statement statement(db, sql);
    std::string out;
    while (statement.next()) {
      for (int i = 0; i < statement.columns(); ++i) {
        out += (i ? "|" : "") + (statement.is_null(i) ? std::string("NULL") : statement.text(i));
      }
      out += "\n";
    }
    return out;
  }
  fs::path target() const { return dir_ / "all.sqlite"; }

  fs::path dir_;
  ClusterPlan plan_;
};

TEST_F(CollectTest, MergesEveryPartOnceAndAgainAddsNothing) {
  part(0, {"seed=1", "seed=3"});
  part(1, {"seed=2"});
  auto outcome = collect_parts(plan_, dir_, target());
  ASSERT_TRUE(outcome.merged) << describe_refusal(outcome);
  EXPECT_EQ(outcome.copied, 3u);
  EXPECT_EQ(query("SELECT run_id, seed FROM runs ORDER BY run_id"), "seed=1|7\nseed=2|7\nseed=3|7\n");
  // Values keep their types and NULLs.
  EXPECT_EQ(query("SELECT typeof(time), typeof(mote), count(*) FROM results GROUP BY 1, 2"), "real|integer|6\n");
  EXPECT_EQ(query("SELECT count(*) FROM results WHERE fields IS NULL"), "3\n");
  EXPECT_EQ(query("SELECT count(*) FROM delivery WHERE expected IS NULL"), "3\n");
  EXPECT_EQ(query("SELECT value FROM meta WHERE key = 'experiment_hash'"), "abc\n");
  EXPECT_EQ(query("SELECT name FROM sqlite_master WHERE type = 'index' AND name = 'results_run'"),
            "results_run\n");

  auto again = collect_parts(plan_, dir_, target());
  ASSERT_TRUE(again.merged);
  EXPECT_EQ(again.copied, 0u);
  EXPECT_EQ(again.already, 3u);
  EXPECT_EQ(query("SELECT count(*) FROM runs"), "3\n");
  EXPECT_EQ(query("SELECT count(*) FROM results"), "6\n");
}

TEST_F(CollectTest, RefusesMissingDoubledUnknownAndForeignPartsWritingNothing) {
  part(0, {"seed=1", "seed=9"});
  part(1, {"seed=1"});
  auto outcome = collect_parts(plan_, dir_, target());
  EXPECT_FALSE(outcome.merged);
  EXPECT_EQ(outcome.missing, (std::vector<std::string>{"seed=2", "seed=3"}));
  EXPECT_EQ(outcome.doubled, (std::vector<std::string>{"seed=1 (in part_0.sqlite, part_1.sqlite)"}));
  EXPECT_EQ(outcome.unknown, (std::vector<std::string>{"seed=9 (in part_0.sqlite)"}));
  std::string told = describe_refusal(outcome);
  EXPECT_NE(told.find("2 runs missing from every part:\n  seed=2\n  seed=3\n"), std::string::npos) << told;
  EXPECT_NE(told.find("1 run in more than one part"), std::string::npos) << told;
  EXPECT_FALSE(fs::exists(target()));

  fs::remove(dir_ / "part_1.sqlite");
  part(1, {"seed=2", "seed=3"}, "other");
  outcome = collect_parts(plan_, dir_, target());
  EXPECT_FALSE(outcome.merged);
  ASSERT_EQ(outcome.problems.size(), 1u);
  EXPECT_EQ(outcome.problems[0], "part_1.sqlite is of another experiment file");
  EXPECT_FALSE(fs::exists(target()));
}

TEST_F(CollectTest, RunsAlreadyInTheDatabaseCountAsFound) {
  part(0, {"seed=1", "seed=2"});
  ClusterPlan two = plan_;
  two.run_ids = {"seed=1", "seed=2"};
  ASSERT_TRUE(collect_parts(two, dir_, target()).merged);
  fs::remove(dir_ / "part_0.sqlite");
  part(3, {"seed=3"});
  part(12, {});
  auto outcome = collect_parts(plan_, dir_, target());
  ASSERT_TRUE(outcome.merged) << describe_refusal(outcome);
  EXPECT_EQ(outcome.parts.size(), 2u);
  EXPECT_EQ(outcome.parts[0].filename(), "part_3.sqlite");
  EXPECT_EQ(outcome.parts[1].filename(), "part_12.sqlite");
  EXPECT_EQ(query("SELECT group_concat(run_id) FROM (SELECT run_id FROM runs ORDER BY run_id)"),
            "seed=1,seed=2,seed=3\n");
}

// The script as a shell runs it: a task with awkward paths calls the
// program with exactly the words of its share.
TEST_F(CollectTest, BatchScriptHandsEachTaskItsShareAndDatabase) {
  fs::path odd = dir_ / "it's a dir";
  fs::create_directories(odd);
  fs::path program = odd / "fake ctl";
  {
    std::ofstream out(program);
    out << "#!/bin/sh\nfor a in \"$@\"; do printf '[%s]' \"$a\"; done > \"$(dirname \"$0\")/args\"\n";
  }
  fs::permissions(program, fs::perms::owner_all);
  SlurmJob job{.name = "e", .shared_dir = odd, .experiment = odd / "e $x.experiment", .task_program = program,
               .tasks = 3, .jobs = 2, .partition = "p", .time = {}, .memory = "1G"};
  fs::path script = odd / "sweep.sbatch";
  std::ofstream(script) << batch_script(job);
  std::string command = "SLURM_ARRAY_TASK_ID=2 sh " + shell_quoted(script.string());
  ASSERT_EQ(std::system(command.c_str()), 0);
  std::ifstream in(odd / "args");
  std::string args((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  EXPECT_EQ(args, "[sweep][" + (odd / "e $x.experiment").string() + "][--task][2][--of][3][--jobs][2][--db][" +
                      (odd / "part_2.sqlite").string() + "]");
  // Outside an array task the script refuses rather than writing part_.sqlite.
  EXPECT_NE(std::system(("sh " + shell_quoted(script.string()) + " 2>/dev/null").c_str()), 0);

  auto args_of_sbatch = sbatch_arguments(job, script, true);
  EXPECT_EQ(args_of_sbatch[2], "--array=0-2");
  EXPECT_NE(std::find(args_of_sbatch.begin(), args_of_sbatch.end(), "--mem=1G"), args_of_sbatch.end());
  EXPECT_EQ(job_id_in("4711\n"), "4711");
  EXPECT_EQ(job_id_in("4711;cluster\n"), "4711");
  EXPECT_EQ(job_id_in("sbatch: error: invalid partition\n"), std::nullopt);
  EXPECT_EQ(task_count(250, 100), 100);
  EXPECT_EQ(task_count(3, 100), 3);
}

}  // namespace
}  // namespace experiments

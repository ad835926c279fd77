// brelo-ctl sweep end to end: a small experiment into its database, a sweep
// interrupted and started again, and runs that fail.

#include <gtest/gtest.h>
#include <signal.h>
#include <sqlite3.h>

#include <filesystem>
#include <fstream>
#include <thread>

#include "../control/brelo_process.hpp"

namespace {
namespace fs = std::filesystem;
using control_test::ChildProcess;

// The database a sweep wrote, read with plain SQL.
class Database {
 public:
  explicit Database(const std::string& path) {
    ::sqlite3_open_v2(path.c_str(), &db_, SQLITE_OPEN_READONLY, nullptr);
    ::sqlite3_busy_timeout(db_, 10000);  // a sweep may be writing
  }
  ~Database() { ::sqlite3_close(db_); }
  Database(const Database&) = delete;
  Database& operator=(const Database&) = delete;

  // The rows of `sql`, each as its columns' texts joined by '|' (NULL: "-").
  std::vector<std::string> rows(const std::string& sql) {
    std::vector<std::string> out;
    sqlite3_stmt* s = nullptr;
    if (::sqlite3_prepare_v2(db_, sql.c_str(), -1, &s, nullptr) != SQLITE_OK) {
      ADD_FAILURE() << sql << ": " << ::sqlite3_errmsg(db_);
      return out;
    }
    while (::sqlite3_step(s) == SQLITE_ROW) {
      std::string row;
      for (int c = 0; c < ::sqlite3_column_count(s); ++c) {
        const unsigned char* t = ::sqlite3_column_text(s, c);
        row += (c == 0 ? "" : "|") +
               (t == nullptr ? std::string("-") : std::string(reinterpret_cast<const char*>(t)));
      }
      out.push_back(row);
    }
    ::sqlite3_finalize(s);
    return out;
  }
  std::string one(const std::string& sql) {
    std::vector<std::string> r = rows(sql);
    return r.empty() ? "" : r[0];
  }

 private:
  sqlite3* db_ = nullptr;
};

class Sweep : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = fs::temp_directory_path() / ("brelo-sweep-test-" + std::to_string(::getpid()) + "-" +
                                        ::testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::remove_all(dir_);
    fs::create_directories(dir_);
  }
  void TearDown() override { fs::remove_all(dir_); }

  std::string experiment(const std::string& text) {
    const std::string path = (dir_ / "sweep.exp").string();
    std::ofstream(path) << text;
    return path;
  }
  std::string db() const { return (dir_ / "sweep.sqlite").string(); }

  std::unique_ptr<ChildProcess> start(const std::string& file, std::vector<std::string> options = {}) {
    std::vector<std::string> args = {"brelo-ctl", "sweep", file};
    args.insert(args.end(), options.begin(), options.end());
    return std::make_unique<ChildProcess>(BRELO_CTL_BINARY, args, std::vector<std::string>{});
  }
  // Runs a sweep to its end; its exit status.
  int sweep(const std::string& file, std::vector<std::string> options = {}) {
    auto child = start(file, std::move(options));
    const control_test::ExitStatus status = child->wait(std::chrono::seconds(300));
    last_err_ = child->err();
    return status.exited ? status.code : -1;
  }

  fs::path dir_;
  std::string last_err_;
};

// No result is stored twice and every run's results agree with its delivery count.
void expect_results_whole(Database& d) {
  EXPECT_EQ(
      d.one("SELECT count(*) FROM (SELECT 1 FROM results GROUP BY run_id, time, mote HAVING count(*) > 1)"),
      "0");
  EXPECT_EQ(d.rows("SELECT r.run_id FROM runs r WHERE r.status = 'done' AND "
                   "(SELECT count(*) FROM results s WHERE s.run_id = r.run_id) != "
                   "(SELECT sum(received) FROM delivery d WHERE d.run_id = r.run_id)"),
            std::vector<std::string>{});
}

TEST_F(Sweep, RunsEveryCombinationIntoTheDatabase) {
  const std::string file = experiment("name tiny\nquery " EXAMPLES_DIR
                                      "/collection.query\n"
                                      "vary seed 1..2\nvary motes 4, 5\nset until 8\n");
  ASSERT_EQ(sweep(file, {"--jobs", "2"}), 0) << last_err_;
  Database d(db());
  EXPECT_EQ(
      d.rows("SELECT run_id, experiment, seed, status, exit_status FROM runs ORDER BY run_id"),
      (std::vector<std::string>{
          "query=collection,motes=4,seed=1|tiny|1|done|0", "query=collection,motes=4,seed=2|tiny|2|done|0",
          "query=collection,motes=5,seed=1|tiny|1|done|0", "query=collection,motes=5,seed=2|tiny|2|done|0"}));
  EXPECT_EQ(d.one("SELECT parameters FROM runs WHERE run_id = 'query=collection,motes=5,seed=2'"),
            R"({"query":"collection","motes":5,"seed":2,"until":8})");
  // Each run ran its own network to the end, with brelo's statistics.
  EXPECT_EQ(d.rows("SELECT run_id FROM runs WHERE virtual_seconds < 8 OR events < 1000 OR "
                   "json_extract(statistics, '$.run.motes') != json_extract(parameters, '$.motes') OR "
                   "command_line NOT LIKE '%-seed=%' OR brelo_commit IS NULL"),
            std::vector<std::string>{});
  // Three motes send a light reading each second from 2 s on: mote 1 reads 100.
  EXPECT_GE(std::stoi(d.one("SELECT count(*) FROM results WHERE run_id = 'query=collection,motes=4,seed=1'")),
            12);
  EXPECT_EQ(d.rows("SELECT DISTINCT fields FROM results WHERE mote = 1"),
            std::vector<std::string>{R"({"light":100})"});
  EXPECT_EQ(d.one("SELECT value FROM meta WHERE key = 'schema_version'"), "1");
  expect_results_whole(d);

  // Started again, it finds everything done.
  const std::string before = d.one("SELECT count(*) FROM results");
  ASSERT_EQ(sweep(file), 0) << last_err_;
  EXPECT_NE(last_err_.find("4 runs, 4 already in"), std::string::npos) << last_err_;
  EXPECT_EQ(d.one("SELECT count(*) FROM results"), before);
  // An edited experiment file does not add its runs to the old ones.
  std::ofstream(file, std::ios::app) << "set fast yes\n";
  EXPECT_EQ(sweep(file), 2);
  EXPECT_NE(last_err_.find("another text of"), std::string::npos) << last_err_;
}

TEST_F(Sweep, PeriodAndLinkQualityReachTheSimulation) {
  const std::string file = experiment("query " EXAMPLES_DIR
                                      "/collection.query\nvary period 1, 3\n"
                                      "vary link_p 0, 0.002\nset until 14\nset seed 4\n");
  ASSERT_EQ(sweep(file, {"--jobs", "2"}), 0) << last_err_;
  Database d(db());
  auto number = [&d](const std::string& what, const std::string& run) {
    return std::stoi(
        d.one("SELECT sum(" + what + ") FROM delivery WHERE run_id = 'query=collection," + run + "'"));
  };
  // Three sources sampling every 3 s instead of every second expect a third
  // of the records (give or take one sample each).
  for (const char* link : {"link_p=0", "link_p=0.002"}) {
    const int every_second = number("expected", std::string(link) + ",period=1");
    EXPECT_GE(every_second, 30) << link;
    EXPECT_NEAR(number("expected", std::string(link) + ",period=3") * 3, every_second, 9) << link;
  }
  // Perfect links lose nothing; one bit in 500 flipped loses packets.
  EXPECT_EQ(number("received", "link_p=0,period=1"), number("expected", "link_p=0,period=1"));
  EXPECT_LT(number("received", "link_p=0.002,period=1"), number("expected", "link_p=0.002,period=1"));
  EXPECT_NE(d.one("SELECT command_line FROM runs WHERE run_id = 'query=collection,link_p=0.002,period=1'")
                .find("-r=lossy"),
            std::string::npos);
}

TEST_F(Sweep, AnInterruptedSweepGoesOnWhereItStopped) {
  const std::string file =
      experiment("query " EXAMPLES_DIR "/tree_collection.query\nvary seed 1..4\nset until 20\n");
  {
    auto child = start(file);
    // Ctrl-C once the first run is in the database.
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(120);
    std::string recorded;
    while (recorded != "1" && std::chrono::steady_clock::now() < deadline) {
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
      if (fs::exists(db())) recorded = Database(db()).one("SELECT count(*) FROM runs");
    }
    ASSERT_EQ(recorded, "1");
    child->signal(SIGINT);
    const control_test::ExitStatus status = child->wait(std::chrono::seconds(60));
    EXPECT_TRUE(status.exited && status.code == 130) << child->err();
    EXPECT_NE(child->err().find("interrupted"), std::string::npos) << child->err();
  }
  const int after_interrupt = std::stoi(Database(db()).one("SELECT count(*) FROM runs"));
  EXPECT_GE(after_interrupt, 1);
  EXPECT_LT(after_interrupt, 4);

  ASSERT_EQ(sweep(file), 0) << last_err_;
  EXPECT_NE(last_err_.find(std::to_string(after_interrupt) + " already in"), std::string::npos) << last_err_;
  Database d(db());
  EXPECT_EQ(d.one("SELECT count(*), count(DISTINCT run_id), sum(status = 'done') FROM runs"), "4|4|4");
  expect_results_whole(d);
  // The interrupted sweep's runs equal a fresh sweep's run for run.
  const std::string fresh = (dir_ / "fresh.sqlite").string();
  ASSERT_EQ(sweep(file, {"--db", fresh, "--jobs", "2"}), 0) << last_err_;
  const std::string per_run =
      "SELECT run_id, count(*), sum(time) FROM results GROUP BY run_id ORDER BY run_id";
  EXPECT_EQ(d.rows(per_run), Database(fresh).rows(per_run));
}

TEST_F(Sweep, FailedRunsAreRecordedAndTheOthersGoOn) {
  // Half the links' bits flipped: no relay tree can be planned.
  const std::string file = experiment("query " EXAMPLES_DIR
                                      "/tree_collection.query\nvary link_p 0, 0.5\n"
                                      "set until 10\nset seed 2\n");
  EXPECT_EQ(sweep(file, {"--jobs", "2"}), 3);
  EXPECT_NE(last_err_.find("failed query=tree_collection,link_p=0.5 (exit status 2): "), std::string::npos)
      << last_err_;
  Database d(db());
  EXPECT_EQ(d.rows("SELECT run_id, status, exit_status FROM runs ORDER BY run_id"),
            (std::vector<std::string>{"query=tree_collection,link_p=0|done|0",
                                      "query=tree_collection,link_p=0.5|failed|2"}));
  EXPECT_NE(d.one("SELECT error_output FROM runs WHERE status = 'failed'").find("tree_collection.query:13: "),
            std::string::npos);
  EXPECT_EQ(d.one("SELECT count(*) FROM results WHERE run_id = 'query=tree_collection,link_p=0.5'"), "0");
  EXPECT_NE(d.one("SELECT count(*) FROM results WHERE run_id = 'query=tree_collection,link_p=0'"), "0");

  // A simulator that does not start: each run says so, with its own words.
  const std::string broken = (dir_ / "broken-brelo").string();
  std::ofstream(broken) << "#!/bin/sh\necho 'no radio today' >&2\nexit 255\n";
  fs::permissions(broken, fs::perms::owner_all);
  const std::string other = (dir_ / "other.sqlite").string();
  EXPECT_EQ(sweep(file, {"--db", other, "--brelo", broken}), 3);
  EXPECT_EQ(
      Database(other).rows("SELECT status, exit_status, error_output LIKE '%did not open its control ports%"
                           "no radio today%' FROM runs ORDER BY run_id"),
      (std::vector<std::string>{"failed|3|1", "failed|2|0"}));
  EXPECT_EQ(last_err_.find("no radio today"), std::string::npos) << last_err_;
}

// The processes `pid` started (its threads' children).
std::vector<pid_t> children_of(pid_t pid) {
  std::vector<pid_t> found;
  std::error_code ignored;
  for (const auto& task : fs::directory_iterator("/proc/" + std::to_string(pid) + "/task", ignored)) {
    std::ifstream in(task.path() / "children");
    for (pid_t child; in >> child;) found.push_back(child);
  }
  return found;
}

TEST_F(Sweep, ASimulationStoppedFromOutsideIsNotADoneRun) {
  const std::string file =
      experiment("query " EXAMPLES_DIR "/tree_collection.query\nset until 600\nset seed 1\n");
  auto child = start(file);
  std::vector<pid_t> simulations;
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
  while (simulations.empty() && std::chrono::steady_clock::now() < deadline) {
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    simulations = children_of(child->pid());
  }
  ASSERT_EQ(simulations.size(), 1u);
  std::this_thread::sleep_for(std::chrono::milliseconds(300));
  ::kill(simulations[0], SIGINT);  // as a batch system's signal would
  const control_test::ExitStatus status = child->wait(std::chrono::seconds(60));
  EXPECT_TRUE(status.exited && status.code == 3) << child->err();
  Database d(db());
  EXPECT_EQ(d.one("SELECT status, exit_status, error_output LIKE '%before its time limit%' FROM runs"),
            "failed|3|1");
  EXPECT_EQ(d.one("SELECT count(*) FROM results"), "0");
}

TEST_F(Sweep, TwoSweepsOnOneDatabaseRecordEachRunOnce) {
  const std::string file =
      experiment("query " EXAMPLES_DIR "/tree_collection.query\nvary seed 1..6\nset until 10\n");
  auto first = start(file);
  auto second = start(file);
  for (auto* child : {first.get(), second.get()}) {
    const control_test::ExitStatus status = child->wait(std::chrono::seconds(300));
    EXPECT_TRUE(status.exited && status.code == 0) << child->err();
  }
  Database d(db());
  EXPECT_EQ(d.one("SELECT count(*), count(DISTINCT run_id) FROM runs"), "6|6");
  expect_results_whole(d);
}

TEST_F(Sweep, TasksShareTheRunsByIndex) {
  const std::string file =
      experiment("query " EXAMPLES_DIR "/collection.query\nvary seed 1..5\nset until 4\n");
  EXPECT_EQ(sweep(file, {"--task", "1", "--of", "2"}), 0) << last_err_;
  EXPECT_EQ(Database(db()).rows("SELECT seed FROM runs ORDER BY seed"), (std::vector<std::string>{"2", "4"}));
  EXPECT_EQ(sweep(file, {"--task", "2", "--of", "2"}), 2);
}

}  // namespace

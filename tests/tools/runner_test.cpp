// brelo-ctl run as a person uses it: mistakes reported with file and line
// before anything starts, the formats, settings from the command line,
// repeatable runs, attaching to a running simulation and Ctrl-C.

#include <gtest/gtest.h>
#include <signal.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <regex>
#include <sstream>
#include <set>
#include <unistd.h>

#include "run_results.hpp"

namespace query_run_test {
namespace {
using control_test::Brelo;
using control_test::ChildProcess;
using control_test::run_tool;

TEST(Runner, AFileWithMistakesIsReportedLineByLineAndNothingRuns) {
  TempFile file(
      "motes 2\nquery 1\non mote 1\nstream s = sensor light every 1\nserial s\n"
      "stream t = sensor lamp every 1\n");
  control_test::ToolResult r = run_tool({"run", file.path()});
  EXPECT_TRUE(r.status.exited);
  EXPECT_EQ(r.status.code, 2);
  EXPECT_TRUE(r.out.empty()) << r.out;
  // The form of every line is checked first; the checks across lines
  // follow once the form is right.
  EXPECT_NE(r.err.find(file.path() + ":6: unknown sensor 'lamp'"), std::string::npos) << r.err;
  EXPECT_NE(r.err.find("1 error; nothing was sent."), std::string::npos) << r.err;

  TempFile wrong_mote("query 1\non mote 1\nstream s = sensor light every 1\nserial s\n");
  r = run_tool({"run", wrong_mote.path()});
  EXPECT_EQ(r.status.code, 2);
  EXPECT_NE(r.err.find(wrong_mote.path() + ":4: 'serial' sends results out of mote 0"),
            std::string::npos)
      << r.err;

  r = run_tool({"run", "/nonexistent/file.query"});
  EXPECT_EQ(r.status.code, 2);
  EXPECT_NE(r.err.find("cannot read /nonexistent/file.query"), std::string::npos);
}

TEST(Runner, CheckListsTheMessagesWithoutRunning) {
  control_test::ToolResult r = run_tool({"run", example("projection"), "--check"});
  EXPECT_EQ(r.status.code, 0) << r.err;
  EXPECT_NE(r.out.find("no errors; 5 operator messages for 1 motes, until 10 s"), std::string::npos)
      << r.out;
  EXPECT_NE(r.out.find("mote 0   line 13   projection"), std::string::npos) << r.out;
}

TEST(Runner, TheSameFileAndSeedGiveTheSameResults) {
  RunOutput first = run_json(example("selection"));
  RunOutput second = run_json(example("selection"));
  EXPECT_EQ(first.tool.out, second.tool.out);
  RunOutput other_seed = run_json(example("selection"), {"--seed", "99"});
  EXPECT_NE(first.tool.out, other_seed.tool.out);
}

TEST(Runner, SettingsOnTheCommandLineOverrideTheFile) {
  RunOutput run = run_json(example("projection"),
                           {"--adc", "0 temperature 800", "--adc", "0 light 4", "--until", "5"});
  EXPECT_EQ(run.tool.status.code, 0) << run.tool.err;
  ASSERT_GE(run.rows.size(), 2u);
  for (const Row& r : run.rows) {
    EXPECT_EQ(r.fields.at("temperature"), 200);
    EXPECT_LE(r.time, 5.0);
  }
  control_test::ToolResult bad = run_tool({"run", example("projection"), "--adc", "0 lamp 3"});
  EXPECT_EQ(bad.status.code, 2);
  EXPECT_NE(bad.err.find("--adc:1: unknown sensor 'lamp'"), std::string::npos) << bad.err;
}

TEST(Runner, ALossyLinkCutsAMoteOff) {
  // Half the bits from mote 2 to mote 0 flip: none of its records arrive.
  RunOutput run = run_json(example("collection"), {"--link", "2 0 0.5", "--until", "10"});
  EXPECT_EQ(run.tool.status.code, 0) << run.tool.err;
  std::set<int> motes;
  for (const Row& r : run.rows) motes.insert(*r.mote);
  EXPECT_EQ(motes, (std::set<int>{1, 3}));
}

TEST(Runner, OneSectionRunsOnManyMotesWithinTheChannelsOfMote0) {
  // Every mote but 0 sends its light readings to mote 0, written once.
  auto collection = [](const std::string& motes) {
    return "motes " + motes +
           "\nuntil 8\nadc 1 light 400\nadc 2 light 800\nadc 3 light 1000\nquery 1 at 2\n"
           "on mote 0\n  stream down = remote 9 buffer 8\n  serial down\n"
           "on motes all except 0\n  stream l = sensor light every 1\n"
           "  stream up = remote 9 to 0\n  send l -> up\n";
  };
  TempFile four(collection("4"));
  RunOutput run = run_json(four.path());
  EXPECT_EQ(run.tool.status.code, 0) << run.tool.err;
  std::map<int, std::set<int>> light_by_mote;
  for (const Row& r : run.rows) light_by_mote[*r.mote].insert(r.fields.at("light"));
  EXPECT_EQ(light_by_mote, (std::map<int, std::set<int>>{{1, {100}}, {2, {200}}, {3, {250}}}));

  // Nineteen senders do not fit mote 0's channel table: refused by the
  // check, at the line of the senders' stream.
  TempFile twenty(collection("20"));
  control_test::ToolResult check = run_tool({"run", twenty.path(), "--check"});
  EXPECT_EQ(check.status.code, 2);
  EXPECT_TRUE(check.out.empty()) << check.out;
  EXPECT_NE(check.err.find(twenty.path() + ":12: mote 0 can take 4 channels; 19 motes send to "
                                           "it: relay through other motes"),
            std::string::npos)
      << check.err;
  // `all` is the network the run has, also when the command line sets it.
  EXPECT_EQ(run_tool({"run", twenty.path(), "--check", "--motes", "5"}).status.code, 0);
}

// Results are named by the query and stream they came from: two window
// outputs merged into one stream each keep their own name, and after a stop
// the next query's readings on the same remote stream are named by their
// sensor, not by the stopped query's.
TEST(Runner, EachResultIsNamedByTheOutputItCameFrom) {
  TempFile file(R"(motes 3
until 40
adc 1 light 400
adc 2 temperature 1000
query 1 at 2
on mote 0
  stream arriving = remote 9 buffer 8
  serial arriving
on mote 1
  stream light = sensor light every 0.5
  stream w = local
  stream out = remote 9 to 0
  window_avg light -> w field 3 epochs 1
  send w -> out
on mote 2
  stream temp = sensor temperature every 0.5
  stream w = local
  stream out = remote 9 to 0
  window_max temp -> w field 3 epochs 1
  send w -> out
stop 1 at 32
query 2 at 33
on mote 0
  stream arriving = remote 9
  serial arriving
on mote 1
  stream temp = sensor temperature every 1
  stream out = remote 9 to 0
  send temp -> out
)");
  RunOutput run = run_json(file.path(), {"--adc", "1 temperature 800"});
  EXPECT_EQ(run.tool.status.code, 0) << run.tool.err;
  std::map<std::string, std::set<int>> motes_by_name;
  for (const Row& r : run.rows) {
    ASSERT_EQ(r.fields.size(), 1u);
    const auto& [name, value] = *r.fields.begin();
    motes_by_name[name].insert(*r.mote);
    if (name == "avg(light)") {
      EXPECT_EQ(value, 100);
    } else if (name == "max(temperature)") {
      EXPECT_EQ(value, 250);
    } else if (name == "temperature") {
      EXPECT_EQ(value, 200);
      EXPECT_GT(r.time, 33.0);
    }
  }
  EXPECT_EQ(motes_by_name, (std::map<std::string, std::set<int>>{
                               {"avg(light)", {1}}, {"max(temperature)", {2}}, {"temperature", {1}}}));
}

// The magnetometer reads its own ports of the ADC value table (120 and
// 121), not a converter port: its settings must go there.
TEST(Runner, TheMagnetometerReadsWhatItsAdcSettingsSay) {
  TempFile file(R"(motes 1
until 6
adc 0 magx 400
adc 0 magy 200
query 1 at 2
on mote 0
  stream x = sensor magx every 1
  stream y = sensor magy on_demand
  stream both = local
  sync_join x y -> both
  serial both
)");
  RunOutput run = run_json(file.path());
  EXPECT_EQ(run.tool.status.code, 0) << run.tool.err;
  ASSERT_GE(run.rows.size(), 2u);
  for (const Row& r : run.rows) {
    EXPECT_EQ(r.fields.at("magx"), 100);
    EXPECT_EQ(r.fields.at("magy"), 50);
  }
}

TEST(Runner, TableByDefaultAndCsvOnRequest) {
  control_test::ToolResult table =
      run_tool({"run", example("projection"), "--rate", "1000", "--until", "5"});
  EXPECT_TRUE(table.out.starts_with("    time  mote  timestamp  epoch  fields\n")) << table.out;
  EXPECT_NE(table.out.find("temperature=150\n"), std::string::npos);
  // No progress when not a terminal.
  EXPECT_EQ(complaints_in(table.err), "");
  control_test::ToolResult csv =
      run_tool({"run", example("projection"), "--csv", "--rate", "1000", "--until", "5"});
  EXPECT_TRUE(csv.out.starts_with("time,mote,timestamp,epoch,temperature\n")) << csv.out;
  EXPECT_NE(csv.out.find(",,150\n"), std::string::npos) << csv.out;
}

std::string file_text(const std::string& path) {
  std::ifstream in(path);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

// --port places the simulation a run starts, and standard error says where;
// --out leaves the results, the query file, the command line and the
// delivery summary behind.
TEST(Runner, OutKeepsTheRunAndPortPlacesItsSimulation) {
  char folder[] = "/tmp/brelo-out-XXXXXX";
  ASSERT_NE(::mkdtemp(folder), nullptr);
  const std::string out = std::string(folder) + "/run";
  const uint16_t port = control_test::free_port_pair();
  control_test::ToolResult r = run_tool({"--port", std::to_string(port), "run", example("collection"),
                                         "--csv", "--until", "6", "--out", out});
  EXPECT_EQ(r.status.code, 0) << r.err;
  EXPECT_NE(r.err.find("brelo runs on ports " + std::to_string(port) + " (commands) and " +
                       std::to_string(port + 1) + " (events)"),
            std::string::npos)
      << r.err;
  EXPECT_EQ(file_text(out + "/results.csv"), r.out);
  EXPECT_EQ(file_text(out + "/collection.query"), file_text(example("collection")));
  const std::string run = file_text(out + "/run.txt");
  EXPECT_TRUE(std::regex_search(run, std::regex("^brelo: DBG= \\S*/brelo -gui -nodbgout -port=" +
                                                std::to_string(port) + " -seed=1 .*-t=6 4\n")))
      << run;
  EXPECT_NE(run.find("\nseed: 1\n"), std::string::npos) << run;
  EXPECT_TRUE(std::regex_search(run, std::regex("\ncommit: ([0-9a-f]{40}|unknown)\n"))) << run;
  // Every reading of 1 s periods from the start at 2 s: 3 per mote by 6 s.
  EXPECT_EQ(file_text(out + "/delivery.csv"),
            "mote,expected,received,ratio\n1,3,3,1.0000\n2,3,3,1.0000\n3,3,3,1.0000\n");

  // Ports in use are refused, not shared with the simulation already there.
  Brelo other({"-b=0", "1"}, "");
  ASSERT_TRUE(other.wait_until_listening());
  const uint16_t taken = other.command_port();
  r = run_tool({"--port", std::to_string(taken), "run", example("collection"), "--until", "3"});
  EXPECT_EQ(r.status.code, 3);
  EXPECT_NE(r.err.find("port " + std::to_string(taken) + " or " + std::to_string(taken + 1) +
                       " is in use"),
            std::string::npos)
      << r.err;
  EXPECT_TRUE(other.interrupt_and_wait().exited);
  std::filesystem::remove_all(folder);
}

TEST(Runner, AttachesToARunningSimulationAndLeavesItRunning) {
  Brelo brelo({"-b=0", "-l=100", "-seed=3", "2"}, "");
  ASSERT_TRUE(brelo.wait_until_listening());
  RunOutput run = run_json(example("projection"),
                           {"--attach", "--port", std::to_string(brelo.command_port()), "--until", "6"});
  EXPECT_EQ(run.tool.status.code, 0) << run.tool.err;
  ASSERT_GE(run.rows.size(), 2u);
  for (const Row& r : run.rows) EXPECT_EQ(r.fields.at("temperature"), 150);
  // The network is the running one: a file naming mote 3 does not fit it.
  TempFile big("motes 8\nquery 1\non mote 3\nstream l = local\n");
  control_test::ToolResult too_big =
      run_tool({"run", big.path(), "--attach", "--port", std::to_string(brelo.command_port())});
  EXPECT_EQ(too_big.status.code, 2);
  EXPECT_NE(too_big.err.find(big.path() + ":3: mote 3 is not in the network of 2 motes (0 to 1)\n"),
            std::string::npos)
      << too_big.err;
  // Still there: it answers a second client.
  control_test::ToolResult count = run_tool({"--port", std::to_string(brelo.command_port()), "count"});
  EXPECT_EQ(count.out, "2\n");
  EXPECT_TRUE(brelo.interrupt_and_wait().exited);

  control_test::ToolResult none = run_tool(
      {"--port", std::to_string(control_test::free_port_pair()), "run", example("projection"), "--attach"});
  EXPECT_EQ(none.status.code, 1);
  EXPECT_NE(none.err.find("no simulator is listening"), std::string::npos) << none.err;
}

TEST(Runner, CtrlCEndsTheRunAndItsSimulation) {
  ChildProcess tool(BRELO_CTL_BINARY,
                    {"brelo-ctl", "run", example("collection"), "--rate", "4", "--until", "1000"}, {});
  ASSERT_TRUE(tool.wait_for_output("light=")) << tool.err();
  tool.signal(SIGINT);
  control_test::ExitStatus status = tool.wait(std::chrono::seconds(15));
  EXPECT_TRUE(status.exited);
  EXPECT_EQ(status.code, 0) << tool.err();
}

}  // namespace
}  // namespace query_run_test

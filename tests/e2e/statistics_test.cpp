// The statistics file of -stats=FILE: written at the time limit and on
// Ctrl-C, with run totals that agree with brelo's own event count and
// energies that agree with a calculation by hand. (Counts of a run with
// traffic are checked through brelo-ctl run in tests/tools.)

#include <signal.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <fstream>
#include <regex>
#include <sstream>
#include <string>

#include "lib/json_reader.hpp"
#include "run_brelo.hpp"

namespace e2e {
namespace {
using brelo_host::JsonValue;
using namespace std::chrono_literals;

// A file name in a folder of the test's own, removed at the end.
class TempDir {
 public:
  TempDir() {
    char name[] = "/tmp/brelo-stats-test-XXXXXX";
    path_ = ::mkdtemp(name);
  }
  ~TempDir() { std::system(("rm -rf '" + path_ + "'").c_str()); }
  std::string file(const std::string& name) const { return path_ + "/" + name; }

 private:
  std::string path_;
};

JsonValue read_json(const std::string& path) {
  std::ifstream in(path);
  std::stringstream text;
  text << in.rdbuf();
  std::string why;
  std::optional<JsonValue> value = brelo_host::parse_json(text.str(), why);
  EXPECT_TRUE(value.has_value()) << path << ": " << why << "\n" << text.str();
  return value.value_or(JsonValue{});
}

const JsonValue& mote_entry(const JsonValue& stats, std::size_t mote) {
  return stats.find("motes")->items.at(mote);
}

// Two motes boot at ticks 0 and 1 (-b=0) and listen for 2 s; nothing is
// sent, so each spends its whole time on with the processor active and the
// radio receiving, and nothing else.
TEST(Statistics, QuietRunsEnergyIsCurrentTimesVoltageTimesTime) {
  TempDir dir;
  const std::string stats = dir.file("stats.json");
  // Ports of its own: another brelo on this machine may hold the default ones.
  std::vector<std::string> args{kProgramName};
  for (const std::string& arg :
       with_free_ports({"-b=0", "-seed=1", "-l=inf", "-t=2", "-stats=" + stats, "2"})) {
    args.push_back(arg);
  }
  ProcessResult r = run_process(BRELO_BINARY, args, {"DBG=", "BRELO_STATS=1"}, kRunTimeout);
  ASSERT_TRUE(r.exited && r.exit_code == 0) << r.err;
  JsonValue s = read_json(stats);

  const JsonValue& run = *s.find("run");
  EXPECT_EQ(run.number_at("motes"), 2);
  EXPECT_EQ(run.number_at("virtual_ticks"), 8000000);
  EXPECT_EQ(run.find("ended_by")->text, "time limit");
  // The same count BRELO_STATS prints.
  std::smatch events;
  ASSERT_TRUE(std::regex_search(r.err, events, std::regex("events (\\d+)"))) << r.err;
  EXPECT_EQ(run.number_at("events"), std::stod(events[1]));

  // 5.5 mA x 3 V x 2 s = 33 mJ for the processor, 3.8 mA x 3 V x 2 s =
  // 22.8 mJ for the radio; mote 1 is on one tick (0.25 us) less.
  const JsonValue& m0 = mote_entry(s, 0);
  EXPECT_DOUBLE_EQ(m0.number_at("on_seconds"), 2.0);
  const JsonValue& e0 = *m0.find("energy_mJ");
  EXPECT_NEAR(e0.number_at("cpu"), 33.0, 1e-6);
  EXPECT_NEAR(e0.number_at("radio_receive"), 22.8, 1e-6);
  EXPECT_NEAR(e0.number_at("total"), 55.8, 1e-6);
  for (const char* idle : {"radio_transmit", "radio_sleep", "led_red", "led_green", "led_yellow", "adc"}) {
    EXPECT_EQ(e0.number_at(idle, -1), 0) << idle;
  }
  const JsonValue& m1 = mote_entry(s, 1);
  EXPECT_DOUBLE_EQ(m1.number_at("on_seconds"), 1.99999975);
  EXPECT_NEAR(m1.find("energy_mJ")->number_at("total"), (5.5 + 3.8) * 3 * 1.99999975, 1e-6);
  for (const char* count : {"packets_sent", "packets_received", "serial_sent", "records_read", "results"}) {
    EXPECT_EQ(m0.number_at(count, -1), 0) << count;
    EXPECT_EQ(m1.number_at(count, -1), 0) << count;
  }
}

// Figures of an -energy file replace the defaults they name, and the file
// reports the figures it used.
TEST(Statistics, EnergyFileOverridesTheFiguresItNames) {
  TempDir dir;
  std::ofstream(dir.file("mica.txt")) << "# a board of our own\nsupply_V = 2\n"
                                         "cpu_mA = 1   # measured\nradio_receive_mA=10\n";
  ProcessResult r = run_brelo({"-b=0", "-seed=1", "-l=inf", "-t=2", "-stats=" + dir.file("s.json"),
                               "-energy=" + dir.file("mica.txt"), "1"},
                              dbg_set(""));
  ASSERT_TRUE(r.exited && r.exit_code == 0) << r.err;
  JsonValue s = read_json(dir.file("s.json"));
  const JsonValue& figures = *s.find("energy_figures");
  EXPECT_EQ(figures.number_at("supply_V"), 2);
  EXPECT_EQ(figures.number_at("radio_transmit_mA"), 12);  // not named: the default
  // 1 mA x 2 V x 2 s = 4 mJ; 10 mA x 2 V x 2 s = 40 mJ.
  const JsonValue& e = *mote_entry(s, 0).find("energy_mJ");
  EXPECT_NEAR(e.number_at("cpu"), 4.0, 1e-6);
  EXPECT_NEAR(e.number_at("radio_receive"), 40.0, 1e-6);
  EXPECT_NEAR(e.number_at("total"), 44.0, 1e-6);
}

TEST(Statistics, FilesThatCannotBeUsedAreReported) {
  TempDir dir;
  ProcessResult r = run_brelo_verbatim({"-t=1", "-stats=/nonexistent/dir/s.json", "1"}, dbg_set(""));
  EXPECT_EQ(r.exit_code, 255);
  EXPECT_EQ(r.err, "SIM: Cannot write statistics file /nonexistent/dir/s.json.\n");

  std::ofstream(dir.file("bad.txt")) << "supply_V = 3\nled_mA = bright\n";
  r = run_brelo_verbatim({"-t=1", "-energy=" + dir.file("bad.txt"), "1"}, dbg_set(""));
  EXPECT_EQ(r.exit_code, 255);
  EXPECT_EQ(r.err, "SIM: Bad energy figures in " + dir.file("bad.txt") +
                       ", line 2: led_mA takes a number of at least 0, not 'bright'.\n");
  EXPECT_EQ(r.out, "");

  // A file that cannot take the report at the end says so.
  r = run_brelo({"-t=1", "-l=inf", "-stats=/dev/full", "1"}, dbg_set(""));
  EXPECT_EQ(r.err, "SIM: Could not write statistics file /dev/full.\n");
}

// Ctrl-C ends the process at once (no static destructors); the file is
// written all the same, at the virtual time the exit line names.
TEST(Statistics, CtrlCWritesTheFileAtTheTimeOfTheExitLine) {
  TempDir dir;
  auto brelo = start_brelo({"-b=0", "-l=20", "-stats=" + dir.file("s.json"), "3"}, dbg_set(""));
  brelo->collect_for(300ms);
  brelo->send_signal(SIGINT);
  ProcessResult r = brelo->finish(5000ms);
  ASSERT_TRUE(r.exited && r.exit_code == 0) << r.err;
  std::smatch at;
  ASSERT_TRUE(std::regex_search(r.out, at, std::regex(R"(Exiting on SIGINT at 0:0:(\d+\.\d{8}))")))
      << r.out;
  JsonValue s = read_json(dir.file("s.json"));
  const JsonValue& run = *s.find("run");
  EXPECT_EQ(run.find("ended_by")->text, "interrupt");
  EXPECT_NEAR(run.number_at("virtual_seconds"), std::stod(at[1]), 1e-8);
  EXPECT_EQ(s.find("motes")->items.size(), 3u);
  EXPECT_DOUBLE_EQ(mote_entry(s, 0).number_at("on_seconds"), run.number_at("virtual_seconds"));
}

}  // namespace
}  // namespace e2e

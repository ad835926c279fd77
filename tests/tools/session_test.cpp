// The host library's Session against a real brelo: a compiled plan applied
// to a simulation it starts, results and events handed to callbacks, and
// the failures a tool must be able to report.

#include "lib/session.hpp"

#include <gtest/gtest.h>

#include <fstream>
#include <sstream>

#include "lib/ports.hpp"

namespace brelo_host {
namespace {

query_file::Plan compiled_example(const std::string& name) {
  std::ifstream in(std::string(EXAMPLES_DIR) + "/" + name + ".query");
  std::stringstream text;
  text << in.rdbuf();
  query_file::ParseResult parsed = query_file::parse(text.str(), name);
  EXPECT_TRUE(parsed.errors.empty());
  query_file::CompileResult compiled = query_file::compile(parsed.file);
  EXPECT_TRUE(compiled.errors.empty());
  return compiled.plan;
}

TEST(Session, StartsAppliesAPlanAndHandsOverItsResultsThenEndsCleanly) {
  query_file::Plan plan = compiled_example("projection");
  plan.until = 6;
  SimulationSettings settings = settings_for(plan);
  settings.program = BRELO_BINARY;
  settings.rate = 1000;
  Session session;
  ASSERT_TRUE(session.start(settings)) << session.error().text;
  ASSERT_TRUE(session.apply(plan)) << session.error().text;

  const int64_t until = 6 * TICKS_PER_SECOND;
  std::vector<query_file::Result> results;
  int64_t serial_from_mote_0 = 0;
  int64_t events = 0;
  PumpHandlers handlers;
  handlers.result = [&](const query_file::Result& r) { results.push_back(r); };
  handlers.event = [&](const ctl::Event& e) {
    ++events;
    if (e.header.moteID == 0 && e.header.msgType == ctl::AM_UARTMSGSENTEVENT) ++serial_from_mote_0;
  };
  ASSERT_TRUE(session.pump(until, handlers)) << session.error().text;
  EXPECT_TRUE(session.end()) << session.error().text;

  // The query starts at 2 s and reads once a second: readings from 3 s on.
  ASSERT_GE(results.size(), 3u);
  EXPECT_EQ(static_cast<int64_t>(results.size()), serial_from_mote_0);
  EXPECT_GT(events, serial_from_mote_0);  // the others (ADC samples, the first event) too
  for (const query_file::Result& r : results) {
    EXPECT_LE(r.time, until);
    ASSERT_EQ(r.fields.size(), 1u);
    EXPECT_EQ(r.fields[0], (std::pair<std::string, uint16_t>{"temperature", 150}));
    EXPECT_TRUE(r.timestamp);
    EXPECT_FALSE(r.mote);
  }
}

TEST(Session, FailuresAreReportedByKind) {
  SimulationSettings settings;
  settings.program = "/nonexistent/brelo";
  Session missing;
  EXPECT_FALSE(missing.start(settings));
  EXPECT_EQ(missing.error().kind, SessionError::Kind::start_failed);
  EXPECT_EQ(missing.error().text, "cannot run /nonexistent/brelo: No such file or directory");
  EXPECT_FALSE(missing.started());

  settings.program = "false";  // runs, but never opens its ports
  Session silent;
  EXPECT_FALSE(silent.start(settings));
  EXPECT_EQ(silent.error().text, "false did not open its control ports");

  Session nobody(std::chrono::milliseconds(500));
  EXPECT_FALSE(nobody.attach(free_port_pair()));
  EXPECT_EQ(nobody.error().kind, SessionError::Kind::not_running);
}

}  // namespace
}  // namespace brelo_host

// Records that cross several hops: query files compiled as the runner does,
// installed on the motes they name, run by the simulator's main loop with the
// bit-level radio. Each relay reads one remote stream and writes the next,
// so it holds an incoming and an outgoing channel at once.

#include "network_queries.hpp"
#include "query_fixture.hpp"

#include "queryfile/query_compile.hpp"
#include "queryfile/query_file.hpp"

namespace query_test {
namespace {
class Relay : public QueryTest {
 protected:
  // Compiles `text`, boots its motes, hands each message to its mote no
  // earlier than its time, messages for motes other than 0 as far apart as
  // mote 0's radio forwards them, and runs until `until` virtual seconds.
  static void run_file(const std::string& text, double until) {
    auto parsed = query_file::parse(text, "relay.query");
    ASSERT_TRUE(parsed.errors.empty()) << parsed.errors.front().text;
    auto compiled = query_file::compile(parsed.file);
    ASSERT_TRUE(compiled.errors.empty()) << compiled.errors.front().text;
    for (uint16_t m = 0; m < compiled.plan.motes; ++m) boot({m});
    int64_t at = 0;
    for (const query_file::TimedMessage& t : compiled.plan.messages) {
      at = std::max(t.time, at + (t.to == 0 ? 1 : query_file::FORWARD_SPACING));
      if (at > vex_state.vex_time) run_loop(at - vex_state.vex_time);
      decode(t.to, t.message);
    }
    run_loop(static_cast<vex_time_t>(until * TICKS_PER_SECOND) - vex_state.vex_time);
  }
  static int results_from(int mote) {
    int n = 0;
    for (const HostPacket& p : to_host) n += p.msg.data[1] == mote ? 1 : 0;
    return n;
  }
};

TEST_F(Relay, ThroughAMoteOtherThanTheBase) {
  run_file(kRelayQuery, 8);
  // Mote 1 starts a little after 2 s and samples every half second.
  EXPECT_GE(results_from(1), 8);
  EXPECT_EQ(results_from(1), static_cast<int>(to_host.size()));
}

TEST_F(Relay, AlongAChainOfFiveMotes) {
  run_file(kChainQuery, 8);
  // Mote 4 starts a little after 2 s and samples every half second.
  EXPECT_GE(results_from(4), 8);
  EXPECT_EQ(results_from(4), static_cast<int>(to_host.size()));
}
}  // namespace
}  // namespace query_test

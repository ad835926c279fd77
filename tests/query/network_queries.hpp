#pragma once
// Query files whose records cross several hops, shared by the tests that
// check them against the engine's tables and by those that run them.

namespace query_test {
// Mote 1's light readings reach mote 0 through mote 2.
inline constexpr const char* kRelayQuery = R"(motes 3
query 1 at 2
on mote 0
  stream arriving = remote 9
  serial arriving
on mote 2
  stream from_1 = remote 8
  stream to_base = remote 9 to 0
  send from_1 -> to_base
on mote 1
  stream light = sensor light every 0.5
  stream to_2 = remote 8 to 2
  send light -> to_2
)";

// Mote 4's light readings pass motes 3, 2 and 1 on their way to mote 0.
inline constexpr const char* kChainQuery = R"(motes 5
query 1 at 2
on mote 0
  stream arriving = remote 1
  serial arriving
on mote 1
  stream up = remote 2
  stream down = remote 1 to 0
  send up -> down
on mote 2
  stream up = remote 3
  stream down = remote 2 to 1
  send up -> down
on mote 3
  stream up = remote 4
  stream down = remote 3 to 2
  send up -> down
on mote 4
  stream light = sensor light every 0.5
  stream down = remote 4 to 3
  send light -> down
)";
}  // namespace query_test

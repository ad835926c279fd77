// Queries whose motes keep several channel messages, opens and closes on the
// way at once, on motes running the simulator's main loop with the
// bit-level radio: two outgoing streams at one start, an operator whose
// output opens after its first record, a stop while a message is in flight,
// and a cycle of streams whose rings drop records still being delivered.

#include "query_fixture.hpp"

#include "net/net_to_ssm.hpp"
#include "streams/sensor_stream.hpp"

namespace query_test {
namespace {
using protocol::LIGHT;
using protocol::TEMPERATURE;
constexpr uint32_t kRate = 256;  // timer counts: a quarter of a second

class NetworkFaults : public QueryTest {
 protected:
  // Records mote 0 sent to the host that came from `mote`.
  static int results_from(int mote) {
    int n = 0;
    for (const HostPacket& p : to_host) n += p.msg.data[1] == mote ? 1 : 0;
    return n;
  }
  // Mote 0 reads remote stream `name` and sends what arrives to the host.
  static void base_collects(uint8_t query, uint8_t name) {
    decode_all(0, {remote_open(query, name, 0), op(query, SERIAL_SEND, 0, -1, 4),
                   message(query, CODE_START_QUERY)});
  }
};

TEST_F(NetworkFaults, AMoteWithTwoOutgoingStreamsDeliversOnBoth) {
  boot({0, 1, 2});
  base_collects(1, 9);
  // Mote 2 keeps what arrives on stream 8 in a local stream.
  decode_all(2, {remote_open(1, 8, 2), local_open(1), op(1, SEND, 0, 1, 4),
                 message(1, CODE_START_QUERY)});
  // Mote 1 opens two remote streams at one start: light to 0, temperature to 2.
  decode_all(1, {sensor_open(1, LIGHT, kRate), sensor_open(1, TEMPERATURE, kRate), remote_open(1, 9, 0),
                 remote_open(1, 8, 2), op(1, SEND, 0, 2, 4), op(1, SEND, 1, 3, 4),
                 message(1, CODE_START_QUERY)});
  run_loop(3 * TICKS_PER_SECOND);
  EXPECT_GE(results_from(1), 8);
  const int8_t kept = open_of(2, 1).stream_desc.no;
  ASSERT_GE(kept, 0);
  auto records = stored(2, kept);
  ASSERT_FALSE(records.empty());
  EXPECT_EQ(records.back().at(1), 1);  // temperature records of mote 1
}

TEST_F(NetworkFaults, AnOperatorWhoseOutputOpensLateResumesReading) {
  boot({0, 1});
  base_collects(1, 9);
  decode_all(1, {local_open(1), remote_open(1, 9, 0), op(1, SEND, 0, 1, 4),
                 message(1, CODE_START_QUERY)});
  // A record arrives before the OPEN of stream 9 has left mote 1: SEND
  // cannot pass it on.
  write_local(1, open_of(1, 0).stream_desc.no, fields({1, 1, 0, 111}));
  run_loop(TICKS_PER_SECOND);
  ASSERT_GE(open_of(1, 1).stream_desc.no, 0);  // the output is open now
  write_local(1, open_of(1, 0).stream_desc.no, fields({1, 2, 0, 222}));
  run_loop(TICKS_PER_SECOND);
  ASSERT_EQ(to_host.size(), 1u);
  EXPECT_EQ(std::vector<int8_t>(to_host[0].msg.data, to_host[0].msg.data + 8),
            fields({1, 2, 0, 222}));
}

TEST_F(NetworkFaults, AStopWhileAMessageIsInFlightClosesTheStreamForGood) {
  boot({0, 1});
  base_collects(1, 9);
  auto light_to_base = [](uint8_t q) {
    decode_all(1, {sensor_open(q, LIGHT, 32), remote_open(q, 9, 0), op(q, SEND, 0, 1, 4),
                   message(q, CODE_START_QUERY)});
  };
  light_to_base(1);
  run_loop(TICKS_PER_SECOND);
  ASSERT_GT(results_from(1), 0);
  // Stop just as a WRITE of mote 1 is being sent.
  while (!NetToSSM::vars_of(1).send_pending) run_loop(100);
  decode(1, message(1, CODE_STOP_QUERY));
  run_loop(TICKS_PER_SECOND / 2);
  const DRSDT_Entry& at_base = SSToAppM::vars_of(0).dest_remote_table[open_of(0, 0).stream_desc.no];
  EXPECT_EQ(at_base.src_counter, 0);  // the CLOSE arrived

  // A later query takes the same stream name and delivers.
  const int before = results_from(1);
  light_to_base(2);
  run_loop(TICKS_PER_SECOND);
  EXPECT_EQ(at_base.src_counter, 1);
  EXPECT_GT(results_from(1), before);
}

TEST_F(NetworkFaults, ACycleOfStreamsNeverReadsARecordItsRingDropped) {
  boot({3});
  // a -> b -> a, one record each, with a MIRROR of a behind the SEND.
  decode_all(3, {local_open(1, 1), local_open(1, 1), local_open(1, 8), op(1, SEND, 0, 1, 4),
                 op(1, MIRROR, 0, 2, 4), op(1, SEND, 1, 0, 4), message(1, CODE_START_QUERY)});
  const auto record = fields({3, 7, 0, 4242});
  // The SEND of a runs round the cycle, which writes into a (dropping the
  // record being delivered) before the MIRROR copies that record.
  write_local(3, open_of(3, 0).stream_desc.no, record);
  auto mirrored = stored(3, open_of(3, 2).stream_desc.no);
  ASSERT_FALSE(mirrored.empty());
  for (const auto& r : mirrored) EXPECT_EQ(r, record);
}
}  // namespace
}  // namespace query_test

// A whole world run twice in one process, with reset_world between the
// runs: results travel over the bit-level radio and out of the base
// station's serial port, so the run touches the clocks, timers, ADC, radio
// stack, connectivity model, serial port and query engine. Whatever of the
// first run survives the reset shows up as a difference in the second.

#include "query_fixture.hpp"

#include <algorithm>
#include <cstdlib>
#include <string>

#include "devices/adc_m.hpp"
#include "streams/sensor_stream.hpp"
#include "kernel/world.hpp"

namespace query_test {
namespace {
using SSToAppM::LIGHT;

class WorldRerun : public QueryTest {
 protected:
  // Mote 1 sends its light samples above 100 down stream 9 to the base station,
  // which sends them to the host. Returns the debug lines and packets.
  static std::string run_collection() {
    std::srand(5);
    boot({0, 1});
    set_adc_value(1, VEX_ADC_PHOTO_PORT, 800);
    decode_all(0, {remote_open(1, 9, 0), op(1, SERIAL_SEND, 0, -1, 4),
                   message(1, CODE_START_QUERY)});
    decode_all(1, {sensor_open(1, LIGHT, 256), local_open(1), remote_open(1, 9, 0),
                   selection(1, 0, 1, GREATER, 3, 100), op(1, SEND, 1, 2, 4),
                   message(1, CODE_START_QUERY)});
    // Event labels (memory lines), boots, timers, packets and the engine's traces.
    const VEX_dbg_mode modes = DBG_BOOT | DBG_MEM | DBG_CLOCK | DBG_AM | DBG_PACKET | DBG_USR1;
    std::string text = output_of(modes, [] { run_loop(2 * TICKS_PER_SECOND); });
    for (const HostPacket& p : to_host) {
      text += "host " + std::to_string(p.time) + " " + std::to_string(p.msg.data[7]) + "\n";
    }
    return text;
  }
};

TEST_F(WorldRerun, ASecondRunAfterAWorldResetRepeatsTheFirstExactly) {
  const std::string first = run_collection();
  ASSERT_FALSE(to_host.empty()) << "the scenario must carry results to the host";
  TearDown();  // the world reset every test ends with ...
  SetUp();     // ... and starts with
  const std::string second = run_collection();
  // On a difference, show where it starts rather than two long transcripts.
  const auto [in_first, in_second] =
      std::mismatch(first.begin(), first.end(), second.begin(), second.end());
  EXPECT_TRUE(in_first == first.end() && in_second == second.end())
      << "the runs part at byte " << (in_first - first.begin()) << ":\n  first:  "
      << std::string(in_first, first.end()).substr(0, 200) << "\n  second: "
      << std::string(in_second, second.end()).substr(0, 200);
}

}  // namespace
}  // namespace query_test

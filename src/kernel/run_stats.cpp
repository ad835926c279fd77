#include "kernel/run_stats.hpp"

#include "kernel/world.hpp"

namespace run_stats {

std::array<MoteCounts, VEXNODES> table{};

namespace {
const WorldReset clear_counts{[] { restore_table(table); }};
}  // namespace

const char* name_of(Counter counter) {
  switch (counter) {
    case packets_sent: return "packets_sent";
    case packets_received: return "packets_received";
    case packets_crc_failed: return "packets_crc_failed";
    case packets_acknowledged: return "packets_acknowledged";
    case serial_sent: return "serial_sent";
    case serial_received: return "serial_received";
    case records_written: return "records_written";
    case records_read: return "records_read";
    case results: return "results";
    case COUNTER_COUNT: break;
  }
  return "?";
}

}  // namespace run_stats

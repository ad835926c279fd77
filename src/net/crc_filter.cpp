#include "net/crc_filter.hpp"

#include "kernel/dbg.hpp"
#include "net/am_promiscuous.hpp"

namespace CrcFilter {
VEX_MsgPtr LowerReceive_receive(VEX_MsgPtr msg) {
  if (msg->crc == 0) {
    dbg(DBG_CRC, "CrcFilter: Packet failed CRC.\n");
    return msg;
  }
  dbg(DBG_CRC, "CrcFilter: Packet passed CRC, signaling.\n");
  return AMPromiscuous::RadioReceive_receive(msg);
}
}  // namespace CrcFilter

#pragma once
// Sits between the bit-level radio stack and the active-message layer and
// keeps packets whose CRC failed from going any further.

#include "net/vex_msg.hpp"

namespace CrcFilter {
// A packet from the radio stack. A failed CRC (crc 0) drops it: the record
// goes straight back to the radio for its next reception. Otherwise it goes
// up, and whatever record the layer above hands back is returned.
VEX_MsgPtr LowerReceive_receive(VEX_MsgPtr msg);
}  // namespace CrcFilter

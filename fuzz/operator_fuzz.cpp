// Fuzzes operator messages: the decoding and installation of opens and
// operators, and the start and stop of queries on whatever tables the
// messages before them built, on three running motes.
//
// The input is a sequence of steps of 1 + 32 bytes: a route byte, then the
// message. The route's low two bits pick the mote (0-2; 3 is a mote that
// does not exist), bit 2 sends the message through mote 0's serial port
// (forwarded over the radio when it is for another mote) instead of handing
// it to the mote's decoder, and bits 3-7 let virtual time pass after it.

#include <cstddef>
#include <cstdint>
#include <cstring>

#include "fuzz_world.hpp"
#include "kernel/vex_state.hpp"
#include "net/brelo_entry.hpp"
#include "net/vex_msg.hpp"
#include "protocol/operator_msg.hpp"
#include "query/pellund_m.hpp"

namespace {
constexpr int kMotes = 3;
constexpr std::size_t kStep = 1 + sizeof(PellundM::OperatorMsg);

void as_mote(uint16_t mote) {
  vex_state.current_node = static_cast<int16_t>(mote);
  VEX_LOCAL_ADDRESS = mote;
}
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
  if (size > 64 * kStep) return 0;
  fuzz::world_reset(kMotes);
  fuzz::world_boot_all();

  for (std::size_t at = 0; at + kStep <= size; at += kStep) {
    const uint8_t route = data[at];
    const auto mote = static_cast<uint16_t>(route & 3);
    VEX_Msg pkt{};
    pkt.addr = mote;
    pkt.type = AM_OPERATORMSG;
    pkt.group = VEX_AM_GROUP;
    pkt.length = PellundM::OPERATOR_MSG_LENGTH;
    std::memcpy(pkt.data, data + at + 1, PellundM::OPERATOR_MSG_LENGTH);
    if ((route & 4) != 0) {
      as_mote(0);
      BRELO_received_uart(&pkt);
    } else if (mote < kMotes) {
      as_mote(mote);
      PellundM::commandcode(&pkt);
    }
    fuzz::world_run(static_cast<vex_time_t>(route >> 3) * 4000, 5000);
  }
  fuzz::world_run(40000, 20000);
  return 0;
}

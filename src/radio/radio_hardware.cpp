#include "radio/radio_hardware.hpp"

#include "kernel/dbg.hpp"
#include "kernel/vex_state.hpp"
#include "kernel/world.hpp"
#include "radio/channel_mon_c.hpp"
#include "radio/connectivity.hpp"

std::array<SpiByteHandle, VEXNODES> spiByteEvents{};
std::array<RadioEventHandle, VEXNODES> channelMonEvents{};
std::array<RadioEventHandle, VEXNODES> radioTimingEvents{};
std::array<uint8_t, VEXNODES> radioWaitingState{};

namespace {
const WorldReset clear_radio_hardware{[] {
  restore_table(spiByteEvents);
  restore_table(channelMonEvents);
  restore_table(radioTimingEvents);
  restore_table(radioWaitingState);
}};
}  // namespace

void VEXH_rfm_tx_bit(uint8_t bit) {
  const int mote = vex_state.current_node.load();
  rfm->transmit(mote, static_cast<uint8_t>(bit & 1));
  dbg(DBG_RADIO, "RFM: Mote %i sent bit %x\n", mote, bit);
}

void reset_radio_hardware(int mote) {
  rfm->stop_transmit(mote);
  SpiByteHandle& spi = spiByteEvents[mote];
  spi.invalidate();
  spi.ending = false;
  channelMonEvents[mote].invalidate();
  ChannelMonSleep::forget(mote);
  radioTimingEvents[mote].invalidate();
  radioWaitingState[mote] = 0;
}

#include "radio/radio_hardware.hpp"

#include "kernel/dbg.hpp"
#include "kernel/vex_state.hpp"
#include "kernel/world.hpp"
#include "radio/bulk_receive.hpp"
#include "radio/channel_mon_c.hpp"
#include "radio/connectivity.hpp"

std::array<SpiByteHandle, VEXNODES> spiByteEvents{};
std::array<RadioEventHandle, VEXNODES> channelMonEvents{};
std::array<RadioEventHandle, VEXNODES> radioTimingEvents{};
std::array<uint8_t, VEXNODES> radioWaitingState{};
WaitingReceivers waiting_receivers;

namespace {
const WorldReset clear_radio_hardware{[] {
  restore_table(spiByteEvents);
  restore_table(channelMonEvents);
  restore_table(radioTimingEvents);
  restore_table(radioWaitingState);
  waiting_receivers.clear();
}};
}  // namespace

void VEXH_rfm_tx_bit(uint8_t bit) {
  const int mote = vex_state.current_node.load();
  rfm->transmit(mote, static_cast<uint8_t>(bit & 1));
  dbg(DBG_RADIO, "RFM: Mote %i sent bit %x\n", mote, bit);
}

void reset_radio_hardware(int mote) {
  BulkReceive::leave(mote);
  rfm->stop_transmit(mote);
  SpiByteHandle& spi = spiByteEvents[mote];
  spi.invalidate();
  spi.ending = false;
  channelMonEvents[mote].invalidate();
  ChannelMonSleep::forget(mote);
  radioTimingEvents[mote].invalidate();
  set_radio_waiting(mote, 0);
}

void set_radio_waiting(int mote, uint8_t waiting_state) {
  radioWaitingState[mote] = waiting_state;
  if (waiting_state == WAITING_FOR_SENDER_CLOCK) {
    waiting_receivers.add(mote);
  } else {
    waiting_receivers.remove(mote);
  }
}

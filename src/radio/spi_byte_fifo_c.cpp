#include "radio/spi_byte_fifo_c.hpp"

#include <memory>

#include "devices/power_state_m.hpp"
#include "kernel/dbg.hpp"
#include "kernel/io_pins.hpp"
#include "kernel/per_mote.hpp"
#include "kernel/schedule.hpp"
#include "kernel/vex_state.hpp"
#include "radio/bulk_receive.hpp"
#include "radio/connectivity.hpp"
#include "radio/orla_high_speed_radio_m.hpp"
#include "radio/radio_hardware.hpp"

namespace {
PerMote<SpiByteFifoC::Vars> spi_byte_fifo;

// A receiver waiting for a sender's bit clock is pulled to this many ticks
// after the sender's next 1-bit: 19 ticks into the sender's fourth bit after it.
constexpr vex_time_t WAKE_UP_DELAY = 419;

void wake_receiver(int receiver, vex_time_t wake) {
  const SpiByteHandle& clock = spiByteEvents[receiver];
  if (!clock.live || clock.time > wake) event_spi_byte_start(receiver, wake);
}

// Gives every waiting receiver among the sender's neighbours a bit clock in
// step with the sender, unless its own clock already comes sooner. The
// receivers are woken in the order the sender's links name them, since that
// order decides which of their clock events runs first on a shared tick.
void wake_waiting_receivers(int sender, vex_time_t now) {
  if (waiting_receivers.empty()) return;
  const vex_time_t wake = now + WAKE_UP_DELAY;
  if (rfm->kind == RfmKind::simple && simple_cell_linked) {
    // The one cell links each mote to every other one, the highest id first
    // (links added later name motes outside the run or the sender itself).
    // The sender is never waiting: its own clock event cleared that.
    waiting_receivers.for_each_descending([&](int receiver) {
      if (receiver != sender) wake_receiver(receiver, wake);
    });
    return;
  }
  for (link_t* link = rfm->neighbors(sender); link != nullptr; link = link->next_link) {
    const int receiver = link->mote;
    if (radioWaitingState[receiver] == WAITING_FOR_SENDER_CLOCK) wake_receiver(receiver, wake);
  }
}
}  // namespace

namespace SpiByteFifoC {
Vars& vars() { return spi_byte_fifo(); }
Vars& vars_of(int mote) { return spi_byte_fifo.of(mote); }

result_t SpiByteFifo_send(uint8_t data) {
  Vars& v = vars();
  if (v.state == OPEN) {
    v.nextByte = data;
    v.state = FULL;
    return SUCCESS;
  }
  if (v.state != IDLE) return FAIL;
  v.state = OPEN;
  OrlaHighSpeedRadioM::SpiByteFifo_dataReady(0);
  v.spdr = data;
  v.radioState = RADIO_SENDING;
  PowerStateM::radioTxMode();
  event_spi_byte_start(vex_state.current_node.load(), sim::now() + RADIO_TICKS_PER_EVENT);
  return SUCCESS;
}

result_t SpiByteFifo_idle() {
  BulkReceive::leave(vex_state.current_node.load());
  Vars& v = vars();
  v.spdr = 0;
  v.nextByte = 0;
  v.radioState = RADIO_IDLE;
  PowerStateM::radioRxMode();
  v.state = IDLE;
  event_spi_byte_end(vex_state.current_node.load());
  return SUCCESS;
}

result_t SpiByteFifo_startReadBytes(uint16_t) {
  Vars& v = vars();
  if (v.state != IDLE) return FAIL;
  v.state = READING;
  v.radioState = RADIO_RECEIVING;
  PowerStateM::radioRxMode();
  v.spdr = 0;
  return SUCCESS;
}

result_t SpiByteFifo_txMode() {
  BulkReceive::leave(vex_state.current_node.load());
  vars().radioState = RADIO_SENDING;
  PowerStateM::radioTxMode();
  VEXH_CLR_RFM_CTL0_PIN();
  VEXH_SET_RFM_CTL1_PIN();
  return SUCCESS;
}

result_t SpiByteFifo_rxMode() {
  BulkReceive::leave(vex_state.current_node.load());
  vars().radioState = RADIO_RECEIVING;
  PowerStateM::radioRxMode();
  VEXH_CLR_RFM_TXD_PIN();
  VEXH_MAKE_RFM_TXD_INPUT();
  VEXH_SET_RFM_CTL0_PIN();
  VEXH_SET_RFM_CTL1_PIN();
  return SUCCESS;
}

result_t SpiByteFifo_phaseShift() {
  event_spi_byte_start(vex_state.current_node.load(), sim::now() + RADIO_TICKS_PER_EVENT + 50);
  return SUCCESS;
}

void SIG_SPI_signal() {
  Vars& v = vars();
  uint8_t data = v.spdr;
  v.spdr = v.nextByte;
  v.state = OPEN;
  OrlaHighSpeedRadioM::SpiByteFifo_dataReady(data);
}
}  // namespace SpiByteFifoC

EventPtr event_spi_byte_create(int mote, vex_time_t time, int interval, int count) {
  auto event = sim::make_event<SpiByteEvent>(mote, time);
  dbg(DBG_MEM, "malloc Spi Byte event data.\n");
  event->interval = interval;
  event->count = count;
  event->force = 1;
  event->cleanup = EventCleanup::total;
  return event;
}

void event_spi_byte_start(int mote, vex_time_t time) {
  BulkReceive::leave(mote);
  dbg(DBG_MEM, "malloc spi byte event.\n");
  EventPtr event = event_spi_byte_create(mote, time, RADIO_TICKS_PER_EVENT, 0);
  SpiByteHandle& clock = spiByteEvents[mote];
  static_cast<SpiByteEvent&>(*event).generation = clock.arm();
  clock.time = time;
  sim::schedule(std::move(event));
}

void event_spi_byte_invalidate(int mote) {
  BulkReceive::leave(mote);
  spiByteEvents[mote].invalidate();
}

void event_spi_byte_end(int mote) {
  BulkReceive::leave(mote);
  spiByteEvents[mote].end();
}

void SpiByteEvent::handle(EventPtr self, VEX_state_t& state) {
  using namespace SpiByteFifoC;
  if (radioWaitingState[mote] != 0) set_radio_waiting(mote, 0);
  SpiByteHandle& clock = spiByteEvents[mote];
  if (clock.is_ending(generation)) {
    clock.ending = false;
    rfm->stop_transmit(mote);
    dbg(DBG_RADIO, "RADIO: Spi Byte event ending for mote %i at %lli discarded.\n", mote,
        static_cast<long long>(time));
    event_cleanup(std::move(self));
    return;
  }
  if (!clock.is_live(generation)) {
    dbg(DBG_RADIO, "RADIO: invalid Spi Byte event for mote %i at %lli discarded.\n", mote,
        static_cast<long long>(time));
    event_cleanup(std::move(self));
    return;
  }
  if (!state.moteOn[mote]) {
    clock.invalidate();
    rfm->stop_transmit(mote);
    dbg(DBG_RADIO, "RADIO: Spi Byte event for switched-off mote %i at %lli discarded.\n", mote,
        static_cast<long long>(time));
    event_cleanup(std::move(self));
    return;
  }

  rfm->stop_transmit(mote);
  if (dbg_active(DBG_RADIO)) {
    dbg(DBG_RADIO, "RADIO: Spi Byte event handled for mote %i at %s with interval of %i.\n", mote,
        currentTime(), interval);
  }
  Vars& v = vars();
  switch (v.radioState) {
    case RADIO_RECEIVING: {
      uint8_t bit = VEXH_rfm_rx_bit() & 1;
      v.spdr = static_cast<uint8_t>((v.spdr << 1) | bit);
      break;
    }
    case RADIO_SENDING: {
      uint8_t bit = static_cast<uint8_t>(v.spdr >> 7);
      VEXH_rfm_tx_bit(bit);
      v.spdr = static_cast<uint8_t>(v.spdr << 1);
      if (bit == 1) wake_waiting_receivers(mote, sim::now());
      break;
    }
    default:
      dbg(DBG_ERROR, "SpiByteFifo is seriously wacked\n");
      break;
  }
  if (count == 7) SIG_SPI_signal();

  count = (count + 1) % 8;
  time += interval;
  // The byte boundary may have superseded or ended this very clock; it is
  // queued all the same and discarded (or winds down) when it comes up.
  if (clock.is_live(generation)) {
    clock.time = time;
    // In fast mode a receiver between bytes of a frame may take its next
    // byte in one step (see bulk_receive.hpp).
    if (count == 0 && v.radioState == RADIO_RECEIVING && BulkReceive::enabled() &&
        BulkReceive::try_join(mote, time, self)) {
      return;
    }
  }
  sim::schedule(std::move(self));
}

#pragma once
// SpiByteFifoC: the radio's byte register and its bit clock.
//
// While sending, the bit clock takes one bit per RADIO_TICKS_PER_EVENT from
// the most significant end of spdr and puts it on the air; while receiving
// it samples the air and shifts the bit in at the least significant end.
// After every eighth bit (a byte boundary) the byte just shifted is handed to
// the packet protocol through dataReady, and spdr is reloaded from the
// look-ahead byte nextByte, which the protocol fills with send().
//
// The bit clock is one periodic SPI byte event per mote. send() from IDLE
// starts it, phaseShift() restarts it half a bit later, the receive-timing
// step starts it for a receiver, and idle() lets it run once more to take
// the last bit off the air.

#include <cstdint>

#include "kernel/event.hpp"
#include "kernel/vex_types.hpp"

namespace SpiByteFifoC {
enum : uint8_t { IDLE = 0, FULL = 1, OPEN = 2, READING = 3 };               // state
enum : uint8_t { RADIO_RECEIVING = 0, RADIO_SENDING = 1, RADIO_IDLE = 2 };  // radioState

struct Vars {
  uint8_t spdr;        // the shift register
  uint8_t nextByte;    // the look-ahead byte, loaded at each byte boundary
  uint8_t state;       // IDLE, FULL (look-ahead byte present), OPEN, READING
  uint8_t radioState;  // RADIO_RECEIVING, RADIO_SENDING, RADIO_IDLE
};

// Queues a byte: in OPEN it becomes the look-ahead byte; in IDLE it starts
// sending (dataReady(0) is signalled first, so the caller can queue the
// following byte). FAIL when a look-ahead byte is present or while reading.
result_t SpiByteFifo_send(uint8_t data);
// Stops the radio: registers cleared, the bit clock winds down.
result_t SpiByteFifo_idle();
// Prepares to receive; the bit clock is started by the receive-timing step.
result_t SpiByteFifo_startReadBytes(uint16_t timing);
result_t SpiByteFifo_txMode();
result_t SpiByteFifo_rxMode();
// Restarts the bit clock half a bit later.
result_t SpiByteFifo_phaseShift();

// A byte boundary: hands the byte in spdr up and reloads spdr.
void SIG_SPI_signal();

Vars& vars();
Vars& vars_of(int mote);
}  // namespace SpiByteFifoC

// One tick of a mote's bit clock. Forced, so that it also runs for a mote
// that has been switched off: it then takes the mote's bit off the air and
// stops, instead of leaving a carrier on for good.
struct SpiByteEvent final : event_t {
  int interval = 0;         // ticks between bits
  int count = 0;            // bit number 0-7 within the current byte
  uint32_t generation = 0;  // see spiByteEvents
  void handle(EventPtr self, VEX_state_t& state) override;
};

EventPtr event_spi_byte_create(int mote, vex_time_t time, int interval, int count);
// Supersedes the mote's bit clock, if any, and starts a new one at `time`.
void event_spi_byte_start(int mote, vex_time_t time);
void event_spi_byte_invalidate(int mote);
// Lets the mote's bit clock run once more to take its bit off the air.
void event_spi_byte_end(int mote);

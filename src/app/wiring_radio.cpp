#include "app/wiring.hpp"
#include "net/am_promiscuous.hpp"
#include "net/crc_filter.hpp"
#include "radio/orla_high_speed_radio_m.hpp"

// Received packets go up through the CRC filter into the active-message
// layer; send completions go straight to it.
void wire_radio() {
  OrlaHighSpeedRadioM::set_upper_handlers(
      {CrcFilter::LowerReceive_receive, AMPromiscuous::RadioSend_sendDone});
}

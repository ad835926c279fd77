#pragma once
// The radio models a simulation can run, as the initial event a control
// client receives names them (its radioModel byte).

#include <cstdint>

namespace protocol {
// One cell: every mote hears every other without loss.
constexpr uint8_t RADIO_MODEL_SIMPLE = 0;
// Directed links with bit-error probabilities, from a file and from clients.
constexpr uint8_t RADIO_MODEL_LOSSY = 1;
// Whole packets with a fixed air time; defined, never selected.
constexpr uint8_t RADIO_MODEL_PACKET = 2;

// "simple", "lossy", "packet"; "unknown" for any other code.
constexpr const char* radio_model_name(uint8_t model) {
  switch (model) {
    case RADIO_MODEL_SIMPLE: return "simple";
    case RADIO_MODEL_LOSSY: return "lossy";
    case RADIO_MODEL_PACKET: return "packet";
    default: return "unknown";
  }
}
}  // namespace protocol

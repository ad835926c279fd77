#include "control/wire/records.hpp"

#include <string_view>

namespace ctl {
namespace {
void put_le(uint8_t* out, uint32_t value) {
  for (int i = 0; i < 4; ++i) out[i] = static_cast<uint8_t>(value >> (8 * i));
}

uint32_t get_le(std::span<const uint8_t> bytes, std::size_t at) {
  uint32_t value = 0;
  for (std::size_t i = 0; i < 4; ++i) {
    uint32_t byte = at + i < bytes.size() ? bytes[at + i] : 0;
    value |= byte << (8 * i);
  }
  return value;
}
}  // namespace

std::array<uint8_t, VARNIX_INIT_EVENT_SIZE> encode_init_event(const VarnixInitEvent& event) {
  std::array<uint8_t, VARNIX_INIT_EVENT_SIZE> bytes{};
  put_le(&bytes[0], static_cast<uint32_t>(event.numMotes));
  bytes[4] = event.radioModel;
  put_le(&bytes[5], event.rate);
  return bytes;
}

VarnixInitEvent decode_init_event(std::span<const uint8_t> bytes) {
  VarnixInitEvent event;
  event.numMotes = static_cast<int32_t>(get_le(bytes, 0));
  event.radioModel = bytes.size() > 4 ? bytes[4] : 0;
  event.rate = get_le(bytes, 5);
  return event;
}

std::string_view debug_text(std::span<const uint8_t> bytes) {
  auto text = reinterpret_cast<const char*>(bytes.data());
  std::size_t length = 0;
  while (length < bytes.size() && text[length] != '\0') ++length;
  return {text, length};
}

std::string_view resolve_name(std::span<const uint8_t> bytes, bool* terminated) {
  std::size_t limit = std::min<std::size_t>(bytes.size(), sizeof(VariableResolveCommand));
  std::string_view name = debug_text(bytes.first(limit));
  // A payload shorter than the record reads as if zero-filled, so it ends.
  bool ends = name.size() < sizeof(VariableResolveCommand);
  if (terminated != nullptr) *terminated = ends;
  return ends ? name : std::string_view{};
}

void set_mote_bit(GetMoteCountResponse& response, int mote) {
  response.bitmask[mote / 8] |= static_cast<uint8_t>(1u << (7 - mote % 8));
}

bool mote_bit(const GetMoteCountResponse& response, int mote) {
  return (response.bitmask[mote / 8] & (1u << (7 - mote % 8))) != 0;
}

}  // namespace ctl

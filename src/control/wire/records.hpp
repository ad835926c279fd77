#pragma once
// The payload records of the control ports, byte for byte as they travel:
// the in-memory records of a little-endian 32-bit machine, alignment padding
// included. Each host struct below has exactly that layout (explicit pad
// members, no hidden padding, checked at compile time), so a record is
// encoded by copying its bytes. The one exception is the initial event,
// which is packed (9 bytes) and encoded field by field.
//
// Decoding never reads past the bytes received: a payload shorter than its
// record leaves the missing tail as zeros, and bytes beyond the record are
// ignored.

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <span>
#include <string_view>
#include <type_traits>
#include <vector>

#include "net/vex_msg.hpp"
#include "protocol/limits.hpp"  // MAX_MOTES

namespace ctl {

struct DebugMsgEvent {
  char debugMessage[512];  // the formatted line, NUL-terminated
};

// Radio and serial events and commands carry a whole VEX_Msg.
struct RadioMsgSentEvent {
  VEX_Msg message;
};
using UARTMsgSentEvent = RadioMsgSentEvent;
using RadioMsgSendCommand = RadioMsgSentEvent;
using UARTMsgSendCommand = RadioMsgSentEvent;

struct ADCDataReadyEvent {
  uint8_t port;
  uint8_t pad_1;
  uint16_t data;
};

// Packed on the wire: numMotes at 0, radioModel at 4, rate at 5.
struct VarnixInitEvent {
  int32_t numMotes = 0;
  uint8_t radioModel = 0;
  uint32_t rate = 0;  // real-time factor x 1000
};
constexpr std::size_t VARNIX_INIT_EVENT_SIZE = 9;

struct InterruptEvent {
  uint32_t id;
};
using InterruptCommand = InterruptEvent;

struct LedEvent {
  uint8_t leds;  // bit 0 red, bit 1 green, bit 2 yellow
  bool red() const { return (leds & 1) != 0; }
  bool green() const { return (leds & 2) != 0; }
  bool yellow() const { return (leds & 4) != 0; }
};

struct SetLinkProbCommand {
  uint16_t moteReceiver;
  uint16_t pad_2;
  uint32_t scaledProb;  // probability x 10,000
};

struct SetADCPortValueCommand {
  uint8_t port;
  uint8_t pad_1;
  uint16_t value;
};

struct SetRateCommand {
  uint32_t rate;  // real-time factor x 1000
};

struct SetDBGCommand {
  int64_t dbg;  // the new debug mode mask
};

struct VariableResolveCommand {
  char name[256];  // NUL-terminated
};

struct VariableResolveResponse {
  uint32_t addr;
  uint32_t length;
};
constexpr uint32_t UNKNOWN_VARIABLE_LENGTH = 0xFFFFFFFF;

struct VariableRequestCommand {
  uint32_t addr;
  uint8_t length;  // 0 means 256
  uint8_t pad_5[3];
};

struct VariableRequestResponse {
  uint32_t length;
  uint8_t value[256];
};

struct GetMoteCountCommand {
  uint8_t placeholder;
};

struct GetMoteCountResponse {
  uint16_t totalMotes;
  uint8_t bitmask[protocol::MAX_MOTES / 8];  // mote i is bit 7 - (i mod 8) of byte i / 8
  uint8_t pad_127;
};

struct SetEventMaskCommand {
  uint16_t mask;
};

// The wire layout of every record, pinned down.
static_assert(sizeof(DebugMsgEvent) == 512);
static_assert(sizeof(RadioMsgSentEvent) == 112);
static_assert(sizeof(ADCDataReadyEvent) == 4 && offsetof(ADCDataReadyEvent, data) == 2);
static_assert(sizeof(InterruptEvent) == 4);
static_assert(sizeof(LedEvent) == 1);
static_assert(sizeof(SetLinkProbCommand) == 8 && offsetof(SetLinkProbCommand, scaledProb) == 4);
static_assert(sizeof(SetADCPortValueCommand) == 4 && offsetof(SetADCPortValueCommand, value) == 2);
static_assert(sizeof(SetRateCommand) == 4);
static_assert(sizeof(SetDBGCommand) == 8);
static_assert(sizeof(VariableResolveCommand) == 256);
static_assert(sizeof(VariableResolveResponse) == 8 &&
              offsetof(VariableResolveResponse, length) == 4);
static_assert(sizeof(VariableRequestCommand) == 8 && offsetof(VariableRequestCommand, length) == 4);
static_assert(sizeof(VariableRequestResponse) == 260 &&
              offsetof(VariableRequestResponse, value) == 4);
static_assert(sizeof(GetMoteCountCommand) == 1);
static_assert(sizeof(GetMoteCountResponse) == 128 && offsetof(GetMoteCountResponse, bitmask) == 2);
static_assert(sizeof(SetEventMaskCommand) == 2);
static_assert(__BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__, "records are little-endian on the wire");

// A record that travels as its own bytes: no hidden padding, so that every
// byte of the encoding is defined.
template <typename R>
concept WireRecord = std::is_trivially_copyable_v<R> && std::has_unique_object_representations_v<R>;

static_assert(WireRecord<RadioMsgSentEvent> && WireRecord<SetLinkProbCommand> &&
              WireRecord<VariableRequestCommand> && WireRecord<GetMoteCountResponse> &&
              WireRecord<SetDBGCommand> && WireRecord<DebugMsgEvent>);

template <WireRecord R>
std::vector<uint8_t> to_bytes(const R& record) {
  std::vector<uint8_t> bytes(sizeof(R));
  std::memcpy(bytes.data(), &record, sizeof(R));
  return bytes;
}

// The record in `bytes`; a short payload leaves the rest zero.
template <WireRecord R>
R from_bytes(std::span<const uint8_t> bytes) {
  R record;
  std::memset(&record, 0, sizeof(R));
  // An empty payload may have no storage at all: memcpy from null is
  // undefined even for zero bytes.
  if (!bytes.empty()) std::memcpy(&record, bytes.data(), std::min(bytes.size(), sizeof(R)));
  return record;
}

std::array<uint8_t, VARNIX_INIT_EVENT_SIZE> encode_init_event(const VarnixInitEvent& event);
VarnixInitEvent decode_init_event(std::span<const uint8_t> bytes);

// The text of a debug event: the bytes up to the first NUL (or all of them).
std::string_view debug_text(std::span<const uint8_t> bytes);

// The name in a resolve command: the bytes up to the first NUL. A name that
// fills all 256 bytes without a NUL is not a name; the answer is empty.
std::string_view resolve_name(std::span<const uint8_t> bytes, bool* terminated);

// Sets and tests the bit of mote `mote` in a mote-count bitmask.
void set_mote_bit(GetMoteCountResponse& response, int mote);
bool mote_bit(const GetMoteCountResponse& response, int mote);

}  // namespace ctl

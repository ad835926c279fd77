#include "ctl/event_format.hpp"

#include <cstdio>
#include <type_traits>

#include "protocol/radio_models.hpp"
#include "protocol/time_format.hpp"

namespace brelo_ctl {
namespace {
struct Kind {
  uint16_t type;
  const char* name;
};
constexpr Kind kinds[] = {
    {ctl::AM_DEBUGMSGEVENT, "debug"},     {ctl::AM_RADIOMSGSENTEVENT, "radio"},
    {ctl::AM_UARTMSGSENTEVENT, "serial"}, {ctl::AM_ADCDATAREADYEVENT, "adc"},
    {ctl::AM_VARNIXINITEVENT, "init"},    {ctl::AM_INTERRUPTEVENT, "interrupt"},
    {ctl::AM_LEDEVENT, "leds"},
};

std::string hex(const uint8_t* bytes, std::size_t count, const char* separator) {
  std::string text;
  char byte[4];
  for (std::size_t i = 0; i < count; ++i) {
    if (i > 0) text += separator;
    std::snprintf(byte, sizeof byte, "%02x", bytes[i]);
    text += byte;
  }
  return text;
}

std::size_t data_length(const VEX_Msg& msg) {
  return msg.length < DATA_LENGTH ? msg.length : DATA_LENGTH;
}

const uint8_t* data_of(const VEX_Msg& msg) { return reinterpret_cast<const uint8_t*>(msg.data); }

// A debug line without its surrounding line ends; inner ones shown as \n.
std::string one_line(const std::string& text) {
  std::size_t begin = text.find_first_not_of("\r\n");
  if (begin == std::string::npos) return {};
  std::size_t end = text.find_last_not_of("\r\n");
  std::string line;
  for (char c : text.substr(begin, end - begin + 1)) {
    if (c == '\n') {
      line += "\\n";
    } else if (c != '\r') {
      line += c;
    }
  }
  return line;
}

std::string message_line(const VEX_Msg& msg) {
  char head[96];
  std::snprintf(head, sizeof head, "addr 0x%04x type %u group %u length %u data ", msg.addr,
                msg.type, msg.group, msg.length);
  return head + hex(data_of(msg), data_length(msg), " ");
}

std::string message_json(const VEX_Msg& msg) {
  char head[160];
  std::snprintf(head, sizeof head,
                "\"addr\":%u,\"am_type\":%u,\"group\":%u,\"length\":%u,\"crc\":%u,"
                "\"strength\":%u,\"ack\":%u,\"data\":",
                msg.addr, msg.type, msg.group, msg.length, msg.crc, msg.strength, msg.ack);
  return head + json_string(hex(data_of(msg), data_length(msg), ""));
}

// The part of the line or object that depends on the event's type.
template <typename Body>
std::string detail(const Body& body, const ctl::Event& event, bool json) {
  char text[160];
  if constexpr (std::is_same_v<Body, ctl::DebugMessage>) {
    return json ? "\"text\":" + json_string(body.text) : one_line(body.text);
  } else if constexpr (std::is_same_v<Body, ctl::RadioMessageSent> ||
                       std::is_same_v<Body, ctl::UartMessageSent>) {
    return json ? message_json(body.message) : message_line(body.message);
  } else if constexpr (std::is_same_v<Body, ctl::ADCDataReadyEvent>) {
    std::snprintf(text, sizeof text, json ? "\"port\":%u,\"value\":%u" : "port %u value %u",
                  body.port, body.data);
  } else if constexpr (std::is_same_v<Body, ctl::VarnixInitEvent>) {
    std::snprintf(text, sizeof text,
                  json ? "\"motes\":%d,\"radio_model\":\"%s\",\"rate\":%.3f"
                       : "%d motes, radio model %s, rate %.3f",
                  body.numMotes, protocol::radio_model_name(body.radioModel), body.rate / 1000.0);
  } else if constexpr (std::is_same_v<Body, ctl::InterruptEvent>) {
    std::snprintf(text, sizeof text, json ? "\"id\":%u" : "id %u", body.id);
  } else if constexpr (std::is_same_v<Body, ctl::LedEvent>) {
    auto on = [json](bool lit) { return json ? (lit ? "true" : "false") : (lit ? "on" : "off"); };
    std::snprintf(text, sizeof text,
                  json ? "\"red\":%s,\"green\":%s,\"yellow\":%s" : "red %s, green %s, yellow %s",
                  on(body.red()), on(body.green()), on(body.yellow()));
  } else {
    std::string bytes = hex(event.payload.data(), event.payload.size(), json ? "" : " ");
    std::snprintf(text, sizeof text, json ? "\"msg_type\":%u,\"payload\":" : "msg type %u payload ",
                  event.header.msgType);
    return text + (json ? json_string(bytes) : bytes);
  }
  return text;
}
}  // namespace

const char* event_kind(uint16_t type) {
  for (const Kind& kind : kinds) {
    if (kind.type == type) return kind.name;
  }
  return "unknown";
}

std::optional<uint16_t> event_type_of(const std::string& name) {
  for (const Kind& kind : kinds) {
    if (name == kind.name) return kind.type;
  }
  return std::nullopt;
}

std::string clock_text(int64_t ticks) {
  char text[128];
  protocol::format_clock(text, sizeof text, ticks);
  return text;
}

std::string event_line(const ctl::Event& event) {
  char head[64];
  const ctl::GuiMsg& h = event.header;
  std::string mote = h.moteID == ctl::NO_MOTE ? "-" : "mote " + std::to_string(h.moteID);
  std::snprintf(head, sizeof head, "%-16s  %-9s  %-9s  ", clock_text(h.time).c_str(), mote.c_str(),
                event_kind(h.msgType));
  return head +
         std::visit([&](const auto& body) { return detail(body, event, false); }, event.body);
}

std::string event_json(const ctl::Event& event) {
  const ctl::GuiMsg& h = event.header;
  std::string mote = h.moteID == ctl::NO_MOTE ? "null" : std::to_string(h.moteID);
  return "{\"time\":" + std::to_string(h.time) + ",\"clock\":" + json_string(clock_text(h.time)) +
         ",\"mote\":" + mote + ",\"type\":" + json_string(event_kind(h.msgType)) + "," +
         std::visit([&](const auto& body) { return detail(body, event, true); }, event.body) + "}";
}

}  // namespace brelo_ctl

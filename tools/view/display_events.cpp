#include "view/display_events.hpp"

#include <cctype>
#include <cstdio>

#include "lib/json.hpp"
#include "protocol/debug_modes.hpp"
#include "protocol/time_format.hpp"

namespace brelo_view {
namespace {
using brelo_host::JsonObject;

std::string sse(const char* type, const JsonObject& data) {
  return std::string("event: ") + type + "\ndata: " + data.str() + "\n\n";
}

std::string number(int64_t value) { return std::to_string(value); }

std::string optional_number(const std::optional<uint16_t>& value) {
  return value ? number(*value) : "null";
}

JsonObject packet(const ctl::Event& event, const VEX_Msg& message, bool with_addr) {
  JsonObject data;
  data.raw("time", seconds_json(event.header.time)).raw("mote", number(event.header.moteID));
  if (with_addr) data.raw("addr", number(message.addr));
  data.raw("type", number(message.type)).raw("length", number(message.length));
  return data;
}
}  // namespace

std::string seconds_json(int64_t ticks) {
  char text[32];
  std::snprintf(text, sizeof text, "%.6f", static_cast<double>(ticks) / TICKS_PER_SECOND);
  return text;
}

std::string debug_mode_of(const std::string& text) {
  std::string word;
  for (char c : text) {
    if (c == ':') break;
    if (!std::isalpha(static_cast<unsigned char>(c)) || word.size() > 12) return "other";
    word += static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  }
  if (word == "leds") word = "led";
  for (const VEX_dbg_mode_names* mode = dbg_nametab; mode->d_name != nullptr; ++mode) {
    if (word == mode->d_name && word != "all" && word != "none") return word;
  }
  return "other";
}

std::optional<DisplayEvent> display_event(const ctl::Event& event) {
  const int mote = event.header.moteID;
  if (const auto* led = std::get_if<ctl::LedEvent>(&event.body)) {
    JsonObject data;
    data.raw("time", seconds_json(event.header.time))
        .raw("mote", number(mote))
        .raw("red", led->red() ? "1" : "0")
        .raw("green", led->green() ? "1" : "0")
        .raw("yellow", led->yellow() ? "1" : "0");
    return DisplayEvent{DisplayKind::led, mote, sse("led", data)};
  }
  if (const auto* radio = std::get_if<ctl::RadioMessageSent>(&event.body)) {
    return DisplayEvent{DisplayKind::radio, mote, sse("radio", packet(event, radio->message, true))};
  }
  if (const auto* serial = std::get_if<ctl::UartMessageSent>(&event.body)) {
    return DisplayEvent{DisplayKind::serial, mote, sse("serial", packet(event, serial->message, false))};
  }
  if (const auto* debug = std::get_if<ctl::DebugMessage>(&event.body)) {
    std::string text = debug->text;
    while (!text.empty() && (text.back() == '\n' || text.back() == '\r')) text.pop_back();
    JsonObject data;
    data.raw("time", seconds_json(event.header.time))
        .raw("mote", number(mote))
        .text("mode", debug_mode_of(text))
        .text("text", text);
    return DisplayEvent{DisplayKind::debug, mote, sse("debug", data)};
  }
  return std::nullopt;
}

DisplayEvent result_event(const query_file::Result& result) {
  JsonObject fields;
  for (const auto& [name, value] : result.fields) fields.raw(name, number(value));
  JsonObject data;
  data.raw("time", seconds_json(result.time))
      .raw("mote", optional_number(result.mote))
      .raw("timestamp", optional_number(result.timestamp))
      .raw("epoch", optional_number(result.epoch))
      .raw("fields", fields.str());
  return DisplayEvent{DisplayKind::result, result.mote ? *result.mote : -1, sse("result", data)};
}

DisplayEvent clock_event(int64_t ticks, double speed) {
  char text[32];
  std::snprintf(text, sizeof text, "%.3f", speed);
  JsonObject data;
  data.raw("time", seconds_json(ticks)).raw("speed", text);
  return DisplayEvent{DisplayKind::clock, -1, sse("clock", data)};
}

DisplayEvent power_event(int64_t ticks, uint16_t mote, bool on) {
  JsonObject data;
  data.raw("time", seconds_json(ticks)).raw("mote", number(mote)).raw("on", on ? "true" : "false");
  return DisplayEvent{DisplayKind::power, mote, sse("power", data)};
}

}  // namespace brelo_view

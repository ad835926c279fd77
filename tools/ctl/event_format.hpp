#pragma once
// How brelo-ctl shows events: one readable line each, or one JSON object
// per line (JSON Lines) for programs.

#include <cstdint>
#include <optional>
#include <string>

#include "control/client/control_client.hpp"
#include "lib/json.hpp"

namespace brelo_ctl {

// "0:0:1.25000000  mote 3    debug      BOOT: Mote booting ..." (no line end).
std::string event_line(const ctl::Event& event);
// {"time":5000000,"clock":"0:0:1.25000000","mote":3,"type":"debug",...}
std::string event_json(const ctl::Event& event);

// The short name of an event type ("debug", "radio", "serial", "adc",
// "init", "interrupt", "leds"); "unknown" for any other.
const char* event_kind(uint16_t type);
// The event type of a short name; nullopt for an unknown name.
std::optional<uint16_t> event_type_of(const std::string& kind);

// A virtual time in ticks as hours:minutes:seconds.fraction.
std::string clock_text(int64_t ticks);
// A text as a JSON string literal, quotes included (the host library's).
using brelo_host::json_string;

}  // namespace brelo_ctl

#pragma once
// The one path by which any layer reports an event to control clients
// (debug lines, LED changes, serial and radio sends, ADC samples...). The
// kernel only forwards: the control-port server installs the sink when its
// ports open; until then events go nowhere.

#include <cstddef>
#include <cstdint>

#include "kernel/vex_types.hpp"

using ClientEventSink = void (*)(uint16_t mote, uint16_t type, vex_time_t time,
                                 const void* payload, std::size_t length);

void set_client_event_sink(ClientEventSink sink);  // nullptr: no clients

// True when a sink is installed, so callers can skip building a payload.
bool client_events_wanted();

void sendVarnixEvent(uint16_t mote, uint16_t type, vex_time_t time, const void* payload,
                     std::size_t length);

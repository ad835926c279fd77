#pragma once
// The simulation's events as the view's page receives them: one
// Server-Sent Events message each, "event: TYPE" and "data: JSON", with
// times in virtual seconds.

#include <cstdint>
#include <optional>
#include <string>

#include "control/client/control_client.hpp"
#include "queryfile/result_record.hpp"
#include "view/display_queue.hpp"

namespace brelo_view {

// An LED change, a radio or serial packet a mote sent, or a debug line;
// nullopt for events the page does not show (ADC samples, interrupts, the
// initial event).
std::optional<DisplayEvent> display_event(const ctl::Event& event);

DisplayEvent result_event(const query_file::Result& result);
// The virtual time reached and the speed (virtual seconds per wall second).
DisplayEvent clock_event(int64_t ticks, double speed);
DisplayEvent power_event(int64_t ticks, uint16_t mote, bool on);

// The debug mode a line belongs to, where its text tells it ("BOOT: ..."
// is boot, "LEDS: ..." led); "other" for the rest. The line itself does
// not carry its mode.
std::string debug_mode_of(const std::string& text);

// Ticks as a JSON number of virtual seconds.
std::string seconds_json(int64_t ticks);

}  // namespace brelo_view

#pragma once
// Switching motes on and off, and the boot events that switch them on.
//
// The kernel does not know the application. The top of the component graph
// (Brelo's StdControl) reaches it through entry points that main fills in,
// so the kernel can be built and tested alone.

#include <cstdint>

#include "kernel/event.hpp"
#include "kernel/vex_types.hpp"

struct AppEntryPoints {
  result_t (*init)() = nullptr;   // the application's StdControl init
  result_t (*start)() = nullptr;  // ... start
  result_t (*stop)() = nullptr;   // ... stop
};
void set_app_entry_points(const AppEntryPoints& entry_points);

namespace Brelo {
result_t StdControl_init();
result_t StdControl_start();
result_t StdControl_stop();
}  // namespace Brelo

// Resets, initialises and starts a mote that is off, then runs the tasks its
// start posted. Does nothing for a mote that is on or beyond num_nodes.
void brelo_start_mote(uint16_t mote);
// Switches a mote off and cancels a boot still pending for it.
void brelo_stop_mote(uint16_t mote);

// Boots its mote unless the boot was cancelled. Forced: runs for a mote that is off.
struct BootEvent final : event_t {
  BootEvent(int mote, vex_time_t time);
  void handle(EventPtr self, VEX_state_t& state) override;
};
void event_boot_handle(event_t& event, VEX_state_t& state);

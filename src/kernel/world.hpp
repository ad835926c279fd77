#pragma once
// The simulated world as a whole, and how to start it afresh.
//
// Component variables live in PerMote, which registers itself. Everything
// else the world keeps between events (the simulator record and its queue,
// the task ring, the connectivity and ADC models, the EEPROM, the hardware
// emulation tables, generation counters ...) registers a WorldReset next to
// its definition, so that one reset_world() puts every piece back and no
// caller keeps a list that a new piece could be missing from.
//
// Settings of the program rather than state of the world stay as they are:
// the wiring between components, the debug modes, the client-event sink,
// the real-time rate and the fast-mode switch.

#include <cstring>
#include <type_traits>

#include "kernel/vex_types.hpp"

// Registers one piece of world state for reset_world. Declare one at
// namespace scope beside the state it resets; `restore` must put that state
// back to what a freshly started process has, and touch nothing else.
class WorldReset {
 public:
  using Restore = void (*)();
  explicit WorldReset(Restore restore);
  ~WorldReset();
  WorldReset(const WorldReset&) = delete;
  WorldReset& operator=(const WorldReset&) = delete;

  void restore() const { restore_(); }

 private:
  Restore restore_;
};

// Value-initialises every entry of a table of plain records, writing only
// the entries that differ: a table nobody used stays unwritten, so a new
// process does not bring the untouched pages of its world into memory.
template <typename Table>
void restore_table(Table& table) {
  using Entry = typename Table::value_type;
  static_assert(std::is_trivially_copyable_v<Entry>);
  const Entry pristine{};
  for (Entry& entry : table) {
    if (std::memcmp(&entry, &pristine, sizeof entry) != 0) entry = pristine;
  }
}

// Puts the world back to how a freshly started process has it: first the
// simulator record (releasing every queued event) and the task ring, then
// every registered piece, then the component variables of motes 0 to
// `motes`-1. Simulation thread only; the caller becomes the simulation
// thread. A process that has just started clears no motes (it has nothing
// to clear, and clearing would touch the memory of every mote).
void reset_world(int motes = VEXNODES);

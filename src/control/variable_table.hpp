#pragma once
// The component variables a control client may inspect: for each, its full
// name, the size of one mote's copy as it lies in the memory of a
// little-endian 32-bit machine (pointers 4 bytes, padding included), and how
// to write that image of a mote's copy.
//
// The images are built from the live component state, so encode() must run
// on the simulation thread (or while it is known to be stopped).

#include <cstdint>
#include <span>

struct VariableRow {
  const char* name;
  uint32_t size;
  // Writes the `size` bytes of mote `mote`'s copy into `out`.
  void (*encode)(int mote, uint8_t* out);
};

// Every row, in lookup order.
std::span<const VariableRow> variable_table();

#pragma once
// Reading component variables by name for control clients.
//
// Addresses are opaque tokens: every variable of every mote owns a range of
// a made-up 32-bit address space laid out like a flat memory image (the
// copies of one variable sit side by side, `size` bytes apart), so an address
// maps back to exactly one variable of one mote and an offset inside it.
//
// Reads never touch live component state from the command thread. The
// command thread posts the read in a small mailbox and the simulation thread
// builds the variable's 32-bit image between two events
// (variable_access_serve). If the simulation thread does not get there within
// a short bound (it is inside an event waiting on a slow event client, paused
// or asleep for pacing), the command is answered at once from the last image
// served for that variable, or with zeros, and the image is refreshed at the
// next service for later reads.

#include <chrono>
#include <cstdint>

// Resolves `name` (NUL-terminated) for `mote`: 0 with an opaque address and
// the size of the mote's copy when the name is known, -1 otherwise.
int __quil_brelo_resolve(uint16_t mote, const char* name, uint32_t* addr, uint32_t* length);

// Copies `length` bytes starting at the opaque `addr` into `out`. Bytes past
// the end of the variable read as zeros. Returns false, and leaves `out`
// alone, when the address lies in no variable of a mote.
bool brelo_read_variable(uint32_t addr, uint32_t length, uint8_t* out);

// Simulation thread, between events: serves the reads waiting in the mailbox.
// Costs one atomic load when none is waiting.
void variable_access_serve();

// How long a read waits for the simulation thread before answering from
// the last image (tests shorten or lengthen it).
void set_variable_read_wait(std::chrono::milliseconds wait);

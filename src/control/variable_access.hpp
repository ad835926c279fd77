#pragma once
// Reading component variables by name for control clients.
//
// Addresses are opaque tokens: every variable of every mote owns a range of
// a made-up 32-bit address space laid out like a flat memory image (the
// copies of one variable sit side by side, `size` bytes apart), so an address
// maps back to exactly one variable of one mote and an offset inside it.
//
// Reads never touch live component state from the command thread. The
// command thread posts the read in a small mailbox and wakes the simulation
// thread (kernel/sim_requests.hpp), which builds the variable's 32-bit image
// from the mote's current bytes between two events or wherever it waits
// (pacing, idle time, a slow event client, the wait for a first client). A
// read it does not get to within a bound (it is stuck inside one long event,
// or the run is over) is reported as not served, never answered with zeros
// or an old copy.

#include <chrono>
#include <cstdint>

// Resolves `name` (NUL-terminated) for `mote`: 0 with an opaque address and
// the size of the mote's copy when the name is known, -1 otherwise.
int __quil_brelo_resolve(uint16_t mote, const char* name, uint32_t* addr, uint32_t* length);

enum class VariableRead {
  read,             // `out` holds the variable's current bytes
  no_such_address,  // the address lies in no variable of a mote; `out` untouched
  not_served,       // the simulation thread did not get to it; `out` untouched
};

// Copies `length` bytes starting at the opaque `addr` into `out`, as the
// simulation thread finds them. Bytes past the end of the variable read as
// zeros.
VariableRead brelo_read_variable(uint32_t addr, uint32_t length, uint8_t* out);

// Simulation thread: serves every read waiting in the mailbox.
void variable_access_serve();

// Reads fail at once from now on and waiting ones give up (the run is
// ending), until variable_access_open().
void variable_access_close();
void variable_access_open();

// How long a read waits for the simulation thread before it is reported as
// not served (tests shorten it). Well below a client's reply timeout.
void set_variable_read_wait(std::chrono::milliseconds wait);

#pragma once
// Reads a component variable's bytes over the command port, in pieces no
// larger than one reply holds. Each request is answered from one moment of
// the simulation, so a table is read in whole entries: no entry mixes bytes
// of two moments.

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "ctl/verb.hpp"

namespace brelo_ctl {

// No variable of a mote comes near this; a longer length is a broken reply.
constexpr uint32_t largest_variable = 1 << 16;

// How many bytes of variable `name` to ask for at a time.
uint32_t piece_size(const std::string& name);

// All `length` bytes from `addr` on, in pieces; nullopt when a request
// failed or the simulator answered fewer bytes than asked (reported on the
// call's error stream, the status kept in `commands`).
std::optional<std::vector<uint8_t>> read_whole(Commands& commands, const std::string& name,
                                               uint32_t addr, uint32_t length, uint32_t piece);

}  // namespace brelo_ctl

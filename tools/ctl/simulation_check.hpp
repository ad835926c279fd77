#pragma once
// Checks of a command against the simulation it goes to, made before the
// command is sent. The simulator acknowledges a command for a mote it does
// not have, or a link setting its radio model never uses, and then ignores
// it; without these checks such a mistake would end with status 0.
//
// A check that fails says what is wrong and leaves EXIT_USAGE as the status
// of `commands`; when asking the simulation fails, the connection's failure
// is reported and kept instead.

#include <cstdint>
#include <initializer_list>
#include <span>

#include "ctl/verb.hpp"

namespace brelo_ctl {

// True when every mote of `motes` is one of the simulation's (asks for its
// mote count on the command port).
bool motes_exist(Commands& commands, std::span<const uint16_t> motes);
inline bool motes_exist(Commands& commands, std::initializer_list<uint16_t> motes) {
  return motes_exist(commands, std::span<const uint16_t>(motes.begin(), motes.size()));
}

// True when the simulation runs the lossy radio model, the only one that
// uses link settings. The model is in the initial event of the event port;
// reading it connects there for a moment (under brelo -gui that lets the
// simulation run meanwhile, as any watcher does).
bool uses_lossy_radio(Commands& commands);

}  // namespace brelo_ctl

#pragma once
// brelo-ctl: a command-line client of a running brelo simulation.
//
//   brelo-ctl [--port N] [--timeout S] VERB [ARGUMENTS]
//
// Exit statuses: 0 done; 1 no simulator is listening; 2 the command line is
// wrong, or the command does not fit the simulation (a mote it does not
// have, a link setting without the lossy radio model); 3 the connection
// failed or the simulator went away; 4 a variable name the simulator does
// not know.

#include <ostream>
#include <string>
#include <vector>

namespace brelo_ctl {

constexpr int EXIT_DONE = 0;
constexpr int EXIT_NOT_RUNNING = 1;
constexpr int EXIT_USAGE = 2;
constexpr int EXIT_CONNECTION = 3;
constexpr int EXIT_NOT_FOUND = 4;

// Runs the tool on `args` (without the program name), writing results to
// `out` and messages to `err`. Returns the exit status.
int run(const std::vector<std::string>& args, std::ostream& out, std::ostream& err);

}  // namespace brelo_ctl

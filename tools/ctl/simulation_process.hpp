#pragma once
// A brelo started by brelo-ctl for the length of one run: its own process
// group (so that Ctrl-C reaches brelo-ctl, which then ends it in order), its
// standard output discarded (results come through the control ports), its
// standard error shared so that its complaints are seen, and ended with
// brelo-ctl if brelo-ctl dies first.

#include <sys/types.h>

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace brelo_ctl {

class SimulationProcess {
 public:
  SimulationProcess() = default;
  ~SimulationProcess();  // kills and reaps a brelo still running
  SimulationProcess(const SimulationProcess&) = delete;
  SimulationProcess& operator=(const SimulationProcess&) = delete;

  // Starts `program` with `args` (without the program name) and DBG empty.
  bool start(const std::string& program, const std::vector<std::string>& args, std::string* why);
  bool running();
  // Asks it to end, as Ctrl-C would.
  void interrupt();
  // Waits for the end; kills it at the deadline. The exit status, or
  // nullopt when it did not exit by itself.
  std::optional<int> wait(std::chrono::milliseconds timeout);

 private:
  pid_t pid_ = -1;
  bool reaped_ = false;
  int status_ = 0;
};

// The brelo built next to this program, or "brelo" (found on PATH) when
// there is none.
std::string brelo_beside_this_program();

// A pair of ports (p, p + 1) on 127.0.0.1 that nothing listens on just now.
uint16_t free_port_pair();

}  // namespace brelo_ctl

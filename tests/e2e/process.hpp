#pragma once
// Runs a program as a child process with a chosen argument vector and
// environment, collecting its standard output and standard error separately
// and its exit status. Every wait has a deadline: a child that outlives it is
// killed and the result says so, so a hung program fails a test instead of
// hanging the suite.

#include <chrono>
#include <string>
#include <vector>

#include "lib/process.hpp"

namespace e2e {

struct ProcessResult {
  std::string out;            // everything written to standard output
  std::string err;            // everything written to standard error
  bool exited = false;        // ended through exit(); exit_code is valid
  int exit_code = -1;         // 0..255
  int term_signal = 0;        // the signal that ended it, when not exited
  bool timed_out = false;     // killed by us at the deadline
  std::chrono::duration<double> wall{0};  // from start to reaping
};

class ChildProcess {
 public:
  // Starts `program` with argv = `args` (args[0] is the name the program
  // sees) and exactly the variables in `env` ("NAME=value" each). Standard
  // input is /dev/null. Throws std::runtime_error when the start fails.
  ChildProcess(const std::string& program, const std::vector<std::string>& args,
               const std::vector<std::string>& env);
  // Kills and reaps a child that is still running.
  ~ChildProcess() = default;
  ChildProcess(const ChildProcess&) = delete;
  ChildProcess& operator=(const ChildProcess&) = delete;

  // Keeps collecting output for `duration` (the child's pipes never fill up
  // while we wait), or less if the child closes both pipes.
  void collect_for(std::chrono::milliseconds duration);

  // Sends a signal to the child.
  void send_signal(int signal_number);

  // Collects output until the child ends, then reaps it. At the deadline the
  // child is killed with SIGKILL and the result is marked timed out.
  ProcessResult finish(std::chrono::milliseconds timeout);

 private:
  // Reads whatever the pipes offer until `deadline` or until both are closed.
  void pump_until(std::chrono::steady_clock::time_point deadline);

  brelo_host::Process process_;
  ProcessResult result_;
};

// Starts the program, waits for it to end and returns what it did.
ProcessResult run_process(const std::string& program, const std::vector<std::string>& args,
                          const std::vector<std::string>& env,
                          std::chrono::milliseconds timeout);

}  // namespace e2e

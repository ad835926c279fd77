#pragma once
// Runs the built brelo (or brelo-ctl) as a child process for end-to-end
// tests: its own control ports (so tests can run side by side and beside a
// simulation someone is using), the DBG value of the test, and its output
// collected in the background so the child never blocks on a full pipe.

#include <sys/types.h>

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "lib/ports.hpp"
#include "lib/process.hpp"

namespace control_test {

using std::chrono::milliseconds;

// Generous waits: the suite also runs under ThreadSanitizer, many times slower.
inline constexpr milliseconds kWait{10000};

using brelo_host::ExitStatus;
using brelo_host::free_port_pair;

class ChildProcess {
 public:
  // Starts `program` with argv `args` (args[0] the name it sees) and the
  // environment `env`; standard input is /dev/null. With `terminal`, its
  // standard output is a pseudo-terminal, so that it arrives line by line
  // as a person would see it (a pipe gets it in blocks).
  ChildProcess(const std::string& program, const std::vector<std::string>& args,
               const std::vector<std::string>& env, bool terminal = false);
  ~ChildProcess();  // kills and reaps a child still running
  ChildProcess(const ChildProcess&) = delete;
  ChildProcess& operator=(const ChildProcess&) = delete;

  pid_t pid() const { return process_.pid(); }
  std::string out() const;
  std::string err() const;
  // Waits until standard output contains `text`; false at the deadline.
  bool wait_for_output(const std::string& text, milliseconds timeout = kWait) const;
  void signal(int number);
  // Waits for the child to end; kills it at the deadline.
  ExitStatus wait(milliseconds timeout = kWait);
  // "running", or how the child ended ("exit code N", "signal N"), reaping it.
  std::string state();

 private:
  brelo_host::Process process_;
  mutable std::mutex mutex_;
  mutable std::condition_variable changed_;
  std::string out_;
  std::string err_;
  std::thread reader_;  // collects the output as it comes
};

// A running brelo with control ports of its own.
class Brelo {
 public:
  // `args` are brelo's options and mote count; -port= is added in front.
  // `dbg`: the DBG variable (nullopt: unset).
  Brelo(std::vector<std::string> args, std::optional<std::string> dbg);

  uint16_t command_port() const { return port_; }
  uint16_t event_port() const { return static_cast<uint16_t>(port_ + 1); }
  ChildProcess& process() { return *process_; }

  // Waits until the command port accepts a connection (the ports are open).
  bool wait_until_listening(milliseconds timeout = kWait);
  // Ends it with SIGINT and returns how it ended.
  ExitStatus interrupt_and_wait();
  // A sanitizer report (thread, address, leak, undefined behaviour) in its
  // standard error, if any.
  std::string sanitizer_report() const;
  // Ends it with SIGINT and expects exit status 0 and no sanitizer report.
  void expect_clean_end();

 private:
  uint16_t port_;
  std::unique_ptr<ChildProcess> process_;
};

// Runs brelo-ctl with `args` to its end.
struct ToolResult {
  ExitStatus status;
  std::string out;
  std::string err;
};
ToolResult run_tool(const std::vector<std::string>& args, milliseconds timeout = kWait);

}  // namespace control_test

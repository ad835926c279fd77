#pragma once
// A child process: brelo started by a tool, or a program a test runs.
//
// Everything the child needs is prepared before fork; between fork and exec
// the child makes only async-signal-safe calls, so starting a process from a
// program with threads is safe. A failed exec is reported by start() (the
// error travels back through a pipe that a successful exec closes). A child
// still running when its Process is destroyed is killed and reaped.

#include <sys/types.h>

#include <chrono>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace brelo_host {

// Where a child's standard output or error goes.
enum class Output {
  inherit,   // ours
  discard,   // /dev/null
  pipe,      // a pipe we read (read_output)
  terminal,  // a pseudo-terminal we read: the child sees a terminal and
             // writes line by line, as a person would see it
  file,      // appended to the file Launch::output_file names
};

struct Launch {
  std::string program;            // a path, or a name looked up on PATH
  std::vector<std::string> argv;  // argv[0] included
  // Exactly these "NAME=value" variables; nullopt: our environment.
  std::optional<std::vector<std::string>> environment;
  Output out = Output::inherit;
  Output err = Output::inherit;
  std::string output_file;  // for Output::file (created when missing)
  bool own_process_group = false;  // Ctrl-C at our terminal does not reach it
  bool end_with_parent = false;    // it gets SIGTERM when we die
};

// Our environment with `name` set to `value`.
std::vector<std::string> environment_with(std::string_view name, std::string_view value);

struct ExitStatus {
  bool exited = false;     // ended through exit(); code is valid
  int code = -1;           // 0..255
  int signal = 0;          // the signal that ended it, when not exited
  bool timed_out = false;  // killed at the deadline of wait()
};

class Process {
 public:
  using Clock = std::chrono::steady_clock;
  enum class Stream { out, err };

  Process() = default;
  ~Process();
  Process(const Process&) = delete;
  Process& operator=(const Process&) = delete;

  // Starts the child; false with the reason in `why` when it cannot run.
  bool start(const Launch& launch, std::string* why);

  pid_t pid() const { return pid_; }
  // True until the child has ended (it is reaped then).
  bool running();
  void signal(int number);
  // Waits for the child to end; kills it with SIGKILL at the deadline.
  ExitStatus wait(std::chrono::milliseconds timeout);
  // How it ended; meaningful once running() is false.
  const ExitStatus& status() const { return status_; }
  // From start to the moment the child was reaped (or until now).
  std::chrono::duration<double> lifetime() const;

  // Reads what the child's pipes offer until `deadline`, or until both are
  // closed (then true), handing each piece to `take`. Without a deadline it
  // reads until they close. Call it from one thread at a time.
  bool read_output(std::optional<Clock::time_point> deadline,
                   const std::function<void(Stream, std::string_view)>& take);

 private:
  void reap(int status);

  pid_t pid_ = -1;
  int out_fd_ = -1;
  int err_fd_ = -1;
  bool reaped_ = false;
  ExitStatus status_;
  Clock::time_point started_;
  Clock::time_point ended_;
};

// The brelo built next to this program, or "brelo" (found on PATH) when
// there is none.
std::string brelo_beside_this_program();

}  // namespace brelo_host

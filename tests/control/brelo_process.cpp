#include "brelo_process.hpp"

#include <gtest/gtest.h>

#include <signal.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <thread>
#include <stdexcept>

#include "control/client/control_client.hpp"

namespace control_test {

namespace {
// The backtrace of every thread of a running process, through gdb when the
// machine has it.
std::string thread_stacks(pid_t pid) {
  std::string command = "gdb -p " + std::to_string(pid) +
                        " -batch -nx -ex 'thread apply all bt 30' 2>&1 </dev/null";
  FILE* gdb = ::popen(command.c_str(), "r");
  if (gdb == nullptr) return "(no gdb)";
  std::string text;
  char chunk[4096];
  while (std::size_t n = std::fread(chunk, 1, sizeof chunk, gdb)) text.append(chunk, n);
  ::pclose(gdb);
  return text;
}
}  // namespace

ChildProcess::ChildProcess(const std::string& program, const std::vector<std::string>& args,
                           const std::vector<std::string>& env, bool terminal) {
  brelo_host::Launch launch;
  launch.program = program;
  launch.argv = args;
  launch.environment = env;
  launch.out = terminal ? brelo_host::Output::terminal : brelo_host::Output::pipe;
  launch.err = brelo_host::Output::pipe;
  std::string why;
  if (!process_.start(launch, &why)) throw std::runtime_error(why);
  reader_ = std::thread([this] {
    process_.read_output(std::nullopt, [this](brelo_host::Process::Stream stream,
                                              std::string_view bytes) {
      std::lock_guard<std::mutex> lock(mutex_);
      (stream == brelo_host::Process::Stream::out ? out_ : err_).append(bytes);
      changed_.notify_all();
    });
  });
}

ChildProcess::~ChildProcess() {
  wait(milliseconds(0));  // kills a child that is still running
}

std::string ChildProcess::out() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return out_;
}

std::string ChildProcess::err() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return err_;
}

bool ChildProcess::wait_for_output(const std::string& text, milliseconds timeout) const {
  std::unique_lock<std::mutex> lock(mutex_);
  return changed_.wait_for(lock, timeout, [&] { return out_.find(text) != std::string::npos; });
}

void ChildProcess::signal(int number) { process_.signal(number); }

ExitStatus ChildProcess::wait(milliseconds timeout) {
  ExitStatus status = process_.wait(timeout);
  if (reader_.joinable()) reader_.join();  // everything the child wrote is in
  return status;
}

std::string ChildProcess::state() {
  if (process_.running()) return "running";
  const ExitStatus& status = process_.status();
  return status.exited ? "exit code " + std::to_string(status.code)
                       : "signal " + std::to_string(status.signal);
}

Brelo::Brelo(std::vector<std::string> args, std::optional<std::string> dbg)
    : port_(free_port_pair()) {
  std::vector<std::string> argv{"brelo", "-port=" + std::to_string(port_)};
  argv.insert(argv.end(), args.begin(), args.end());
  std::vector<std::string> env;
  if (dbg) env.push_back("DBG=" + *dbg);
  // Keep sanitizer reports on standard error, where the tests look for them.
  for (const char* name : {"TSAN_OPTIONS", "ASAN_OPTIONS", "UBSAN_OPTIONS", "LSAN_OPTIONS"}) {
    if (const char* options = std::getenv(name)) env.push_back(std::string(name) + "=" + options);
  }
  process_ = std::make_unique<ChildProcess>(BRELO_BINARY, argv, env, /*terminal=*/true);
}

bool Brelo::wait_until_listening(milliseconds timeout) {
  // Once the command thread answers, both ports are open: the event port
  // opens before either thread starts. (Probing the event port instead would
  // count as the client that -gui waits for.)
  auto deadline = std::chrono::steady_clock::now() + timeout;
  while (std::chrono::steady_clock::now() < deadline) {
    ctl::CommandClient probe;
    if (probe.connect(command_port(), milliseconds(500)) && probe.get_mote_count()) return true;
    std::this_thread::sleep_for(milliseconds(10));
  }
  return false;
}

ExitStatus Brelo::interrupt_and_wait() {
  process_->signal(SIGINT);
  auto deadline = std::chrono::steady_clock::now() + kWait;
  while (process_->state() == "running" && std::chrono::steady_clock::now() < deadline) {
    std::this_thread::sleep_for(milliseconds(20));
  }
  // A brelo that ignored ^C: where each of its threads stands says why.
  if (process_->state() != "running") return process_->wait();
  ADD_FAILURE() << "brelo still runs " << kWait.count() << " ms after ^C; its threads:\n"
                << thread_stacks(process_->pid());
  return process_->wait(milliseconds(0));
}

void Brelo::expect_clean_end() {
  ExitStatus status = interrupt_and_wait();
  EXPECT_TRUE(status.exited && status.code == 0)
      << "signal " << status.signal << (status.timed_out ? " (timed out)" : "");
  EXPECT_EQ(sanitizer_report(), "");
}

std::string Brelo::sanitizer_report() const {
  std::string err = process_->err();
  std::size_t at = std::min(err.find("Sanitizer"), err.find("runtime error:"));
  return at == std::string::npos ? std::string() : err.substr(at > 200 ? at - 200 : 0);
}

ToolResult run_tool(const std::vector<std::string>& args, milliseconds timeout) {
  std::vector<std::string> argv{"brelo-ctl"};
  argv.insert(argv.end(), args.begin(), args.end());
  ChildProcess tool(BRELO_CTL_BINARY, argv, {});
  ToolResult result;
  result.status = tool.wait(timeout);
  result.out = tool.out();
  result.err = tool.err();
  return result;
}

}  // namespace control_test

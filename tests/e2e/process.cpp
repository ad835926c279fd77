#include "process.hpp"

#include <stdexcept>
#include <thread>

namespace e2e {
namespace {
using Clock = std::chrono::steady_clock;
}  // namespace

ChildProcess::ChildProcess(const std::string& program, const std::vector<std::string>& args,
                           const std::vector<std::string>& env) {
  brelo_host::Launch launch;
  launch.program = program;
  launch.argv = args;
  launch.environment = env;
  launch.out = brelo_host::Output::pipe;
  launch.err = brelo_host::Output::pipe;
  std::string why;
  if (!process_.start(launch, &why)) throw std::runtime_error(why);
}

void ChildProcess::pump_until(Clock::time_point deadline) {
  process_.read_output(deadline, [this](brelo_host::Process::Stream stream, std::string_view bytes) {
    (stream == brelo_host::Process::Stream::out ? result_.out : result_.err).append(bytes);
  });
}

void ChildProcess::collect_for(std::chrono::milliseconds duration) {
  auto deadline = Clock::now() + duration;
  pump_until(deadline);
  // Both pipes closed early: the child is ending; just let the time pass.
  std::this_thread::sleep_until(deadline);
}

void ChildProcess::send_signal(int signal_number) { process_.signal(signal_number); }

ProcessResult ChildProcess::finish(std::chrono::milliseconds timeout) {
  auto deadline = Clock::now() + timeout;
  pump_until(deadline);
  auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
  brelo_host::ExitStatus status = process_.wait(std::max(left, std::chrono::milliseconds(0)));
  result_.exited = status.exited;
  result_.exit_code = status.code;
  result_.term_signal = status.signal;
  result_.timed_out = status.timed_out;
  result_.wall = process_.lifetime();
  // Whatever is still in the pipes once the child is gone.
  pump_until(Clock::now() + std::chrono::milliseconds(200));
  return result_;
}

ProcessResult run_process(const std::string& program, const std::vector<std::string>& args,
                          const std::vector<std::string>& env,
                          std::chrono::milliseconds timeout) {
  ChildProcess child(program, args, env);
  return child.finish(timeout);
}

}  // namespace e2e

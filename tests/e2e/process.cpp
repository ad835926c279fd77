#include "process.hpp"

#include <errno.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstring>
#include <stdexcept>
#include <thread>

namespace e2e {
namespace {
using Clock = std::chrono::steady_clock;

std::vector<char*> to_c_array(const std::vector<std::string>& texts) {
  std::vector<char*> array;
  array.reserve(texts.size() + 1);
  for (const std::string& text : texts) array.push_back(const_cast<char*>(text.c_str()));
  array.push_back(nullptr);
  return array;
}

void close_fd(int& fd) {
  if (fd >= 0) ::close(fd);
  fd = -1;
}

// Writes a message from the child after fork, where only async-signal-safe
// calls are allowed.
void child_fail(const char* what) {
  ssize_t ignored = ::write(STDERR_FILENO, what, std::strlen(what));
  (void)ignored;
  _exit(127);
}
}  // namespace

ChildProcess::ChildProcess(const std::string& program, const std::vector<std::string>& args,
                           const std::vector<std::string>& env) {
  // Everything the child needs is prepared before fork.
  std::vector<char*> argv = to_c_array(args);
  std::vector<char*> envp = to_c_array(env);

  int out_pipe[2];
  int err_pipe[2];
  if (::pipe2(out_pipe, O_CLOEXEC) != 0) throw std::runtime_error("pipe2 failed");
  if (::pipe2(err_pipe, O_CLOEXEC) != 0) {
    ::close(out_pipe[0]);
    ::close(out_pipe[1]);
    throw std::runtime_error("pipe2 failed");
  }
  int null_fd = ::open("/dev/null", O_RDONLY | O_CLOEXEC);

  started_ = Clock::now();
  pid_ = ::fork();
  if (pid_ == 0) {
    // dup2 clears close-on-exec on the copies, so only these three survive exec.
    if (null_fd < 0 || ::dup2(null_fd, STDIN_FILENO) < 0 ||
        ::dup2(out_pipe[1], STDOUT_FILENO) < 0 || ::dup2(err_pipe[1], STDERR_FILENO) < 0) {
      child_fail("child set-up failed\n");
    }
    ::execve(program.c_str(), argv.data(), envp.data());
    child_fail("execve failed\n");
  }

  ::close(out_pipe[1]);
  ::close(err_pipe[1]);
  if (null_fd >= 0) ::close(null_fd);
  out_fd_ = out_pipe[0];
  err_fd_ = err_pipe[0];
  if (pid_ < 0) {
    close_fd(out_fd_);
    close_fd(err_fd_);
    throw std::runtime_error("fork failed");
  }
  ::fcntl(out_fd_, F_SETFL, ::fcntl(out_fd_, F_GETFL) | O_NONBLOCK);
  ::fcntl(err_fd_, F_SETFL, ::fcntl(err_fd_, F_GETFL) | O_NONBLOCK);
}

ChildProcess::~ChildProcess() {
  if (!reaped_) kill_and_reap();
  close_fd(out_fd_);
  close_fd(err_fd_);
}

void ChildProcess::pump_until(Clock::time_point deadline) {
  char buffer[65536];
  while (out_fd_ >= 0 || err_fd_ >= 0) {
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
    if (left.count() <= 0) return;
    pollfd fds[2];
    int count = 0;
    if (out_fd_ >= 0) fds[count++] = {out_fd_, POLLIN, 0};
    if (err_fd_ >= 0) fds[count++] = {err_fd_, POLLIN, 0};
    int ready = ::poll(fds, static_cast<nfds_t>(count), static_cast<int>(left.count()));
    if (ready < 0 && errno == EINTR) continue;
    if (ready <= 0) return;
    for (int i = 0; i < count; ++i) {
      if (fds[i].revents == 0) continue;
      bool is_out = fds[i].fd == out_fd_;
      std::string& sink = is_out ? result_.out : result_.err;
      ssize_t n = ::read(fds[i].fd, buffer, sizeof buffer);
      if (n > 0) {
        sink.append(buffer, static_cast<std::size_t>(n));
      } else if (n == 0 || (errno != EAGAIN && errno != EINTR)) {
        close_fd(is_out ? out_fd_ : err_fd_);
      }
    }
  }
}

void ChildProcess::collect_for(std::chrono::milliseconds duration) {
  auto deadline = Clock::now() + duration;
  pump_until(deadline);
  // Both pipes closed early: the child is ending; just let the time pass.
  std::this_thread::sleep_until(deadline);
}

void ChildProcess::send_signal(int signal_number) {
  if (!reaped_) ::kill(pid_, signal_number);
}

void ChildProcess::kill_and_reap() {
  if (reaped_) return;
  ::kill(pid_, SIGKILL);
  int status = 0;
  while (::waitpid(pid_, &status, 0) < 0 && errno == EINTR) {
  }
  reaped_ = true;
  result_.wall = Clock::now() - started_;
  result_.exited = false;
  result_.term_signal = SIGKILL;
}

ProcessResult ChildProcess::finish(std::chrono::milliseconds timeout) {
  auto deadline = Clock::now() + timeout;
  pump_until(deadline);
  while (!reaped_) {
    int status = 0;
    pid_t done = ::waitpid(pid_, &status, WNOHANG);
    if (done == pid_) {
      reaped_ = true;
      result_.wall = Clock::now() - started_;
      if (WIFEXITED(status)) {
        result_.exited = true;
        result_.exit_code = WEXITSTATUS(status);
      } else if (WIFSIGNALED(status)) {
        result_.term_signal = WTERMSIG(status);
      }
    } else if (Clock::now() >= deadline) {
      kill_and_reap();
      result_.timed_out = true;
    } else {
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
  }
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

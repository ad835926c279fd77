#include "lib/process.hpp"

#include <errno.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <cstring>
#include <thread>

extern char** environ;

namespace brelo_host {
namespace {
std::vector<char*> c_array(const std::vector<std::string>& texts) {
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

// A pseudo-terminal in raw mode (no line-end translation): the master end
// for reading and the slave end for the child.
bool open_terminal(int* master, int* slave) {
  *master = ::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
  if (*master < 0) return false;
  char name[128];
  if (::grantpt(*master) != 0 || ::unlockpt(*master) != 0 ||
      ::ptsname_r(*master, name, sizeof name) != 0) {
    close_fd(*master);
    return false;
  }
  *slave = ::open(name, O_RDWR | O_NOCTTY | O_CLOEXEC);
  if (*slave < 0) {
    close_fd(*master);
    return false;
  }
  termios mode{};
  ::tcgetattr(*slave, &mode);
  ::cfmakeraw(&mode);
  ::tcsetattr(*slave, TCSANOW, &mode);
  return true;
}

// The two ends of one of the child's output streams: ours to read (-1 when
// we do not read it) and the child's, or -1 for "leave it as it is".
struct Ends {
  int ours = -1;
  int child = -1;
};

bool open_output(Output output, const std::string& file, int null_fd, Ends* ends, std::string* why) {
  switch (output) {
    case Output::inherit: return true;
    case Output::discard: ends->child = null_fd; return true;
    case Output::pipe: {
      int fds[2];
      if (::pipe2(fds, O_CLOEXEC) != 0) {
        *why = std::string("pipe: ") + std::strerror(errno);
        return false;
      }
      ends->ours = fds[0];
      ends->child = fds[1];
      return true;
    }
    case Output::terminal:
      if (open_terminal(&ends->ours, &ends->child)) return true;
      *why = "no pseudo-terminal";
      return false;
    case Output::file:
      ends->child = ::open(file.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
      if (ends->child >= 0) return true;
      *why = file + ": " + std::strerror(errno);
      return false;
  }
  return true;
}

void close_child_end(Ends& ends, int null_fd) {
  if (ends.child != null_fd) close_fd(ends.child);
}
}  // namespace

std::vector<std::string> environment_with(std::string_view name, std::string_view value) {
  std::vector<std::string> env;
  std::string prefix = std::string(name) + "=";
  for (char** entry = environ; entry != nullptr && *entry != nullptr; ++entry) {
    if (!std::string_view(*entry).starts_with(prefix)) env.emplace_back(*entry);
  }
  env.push_back(prefix + std::string(value));
  return env;
}

Process::~Process() {
  if (pid_ > 0 && !reaped_) {
    ::kill(pid_, SIGKILL);
    int status = 0;
    while (::waitpid(pid_, &status, 0) < 0 && errno == EINTR) {
    }
  }
  close_fd(out_fd_);
  close_fd(err_fd_);
}

bool Process::start(const Launch& launch, std::string* why) {
  std::vector<char*> argv = c_array(launch.argv);
  std::vector<std::string> inherited;
  if (!launch.environment) {
    for (char** entry = environ; entry != nullptr && *entry != nullptr; ++entry) {
      inherited.emplace_back(*entry);
    }
  }
  std::vector<char*> envp = c_array(launch.environment ? *launch.environment : inherited);

  int null_fd = ::open("/dev/null", O_RDWR | O_CLOEXEC);
  if (null_fd < 0) {
    *why = std::string("/dev/null: ") + std::strerror(errno);
    return false;
  }
  Ends out;
  Ends err;
  int report[2] = {-1, -1};
  bool ready = open_output(launch.out, launch.output_file, null_fd, &out, why) &&
               open_output(launch.err, launch.output_file, null_fd, &err, why);
  if (ready && ::pipe2(report, O_CLOEXEC) != 0) {
    *why = std::string("pipe: ") + std::strerror(errno);
    ready = false;
  }
  const pid_t parent = ::getpid();
  pid_t pid = ready ? ::fork() : -1;
  if (ready && pid < 0) *why = std::string("fork: ") + std::strerror(errno);
  if (pid == 0) {
    // The child: async-signal-safe calls only. dup2 clears close-on-exec on
    // the copies, so only the standard streams survive exec.
    if (launch.own_process_group) ::setpgid(0, 0);
    if (launch.end_with_parent) {
      ::prctl(PR_SET_PDEATHSIG, SIGTERM);
      if (::getppid() != parent) ::_exit(127);  // the parent died already
    }
    int error = 0;
    if (::dup2(null_fd, STDIN_FILENO) < 0 ||
        (out.child >= 0 && ::dup2(out.child, STDOUT_FILENO) < 0) ||
        (err.child >= 0 && ::dup2(err.child, STDERR_FILENO) < 0)) {
      error = errno;
    } else {
      ::execvpe(launch.program.c_str(), argv.data(), envp.data());
      error = errno;
    }
    (void)!::write(report[1], &error, sizeof error);
    ::_exit(127);
  }
  close_child_end(out, null_fd);
  close_child_end(err, null_fd);
  ::close(null_fd);
  out_fd_ = out.ours;
  err_fd_ = err.ours;
  if (pid < 0) {
    close_fd(report[0]);
    close_fd(report[1]);
    close_fd(out_fd_);
    close_fd(err_fd_);
    return false;
  }
  started_ = Clock::now();
  pid_ = pid;
  ::close(report[1]);
  int error = 0;
  ssize_t got;
  do {
    got = ::read(report[0], &error, sizeof error);
  } while (got < 0 && errno == EINTR);
  ::close(report[0]);
  if (got == static_cast<ssize_t>(sizeof error)) {
    int status = 0;
    while (::waitpid(pid_, &status, 0) < 0 && errno == EINTR) {
    }
    reap(status);
    *why = "cannot run " + launch.program + ": " + std::strerror(error);
    return false;
  }
  return true;
}

void Process::reap(int status) {
  reaped_ = true;
  ended_ = Clock::now();
  if (WIFEXITED(status)) {
    status_.exited = true;
    status_.code = WEXITSTATUS(status);
  } else if (WIFSIGNALED(status)) {
    status_.signal = WTERMSIG(status);
  }
}

bool Process::running() {
  if (pid_ <= 0 || reaped_) return false;
  int status = 0;
  if (::waitpid(pid_, &status, WNOHANG) != pid_) return true;
  reap(status);
  return false;
}

void Process::signal(int number) {
  if (pid_ > 0 && !reaped_) ::kill(pid_, number);
}

ExitStatus Process::wait(std::chrono::milliseconds timeout) {
  auto deadline = Clock::now() + timeout;
  while (running()) {
    if (Clock::now() >= deadline) {
      ::kill(pid_, SIGKILL);
      int status = 0;
      while (::waitpid(pid_, &status, 0) < 0 && errno == EINTR) {
      }
      reap(status);
      status_.timed_out = true;
      break;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
  }
  return status_;
}

std::chrono::duration<double> Process::lifetime() const {
  return (reaped_ ? ended_ : Clock::now()) - started_;
}

bool Process::read_output(std::optional<Clock::time_point> deadline,
                          const std::function<void(Stream, std::string_view)>& take) {
  char buffer[65536];
  while (out_fd_ >= 0 || err_fd_ >= 0) {
    int wait_ms = -1;
    if (deadline) {
      auto left = std::chrono::duration_cast<std::chrono::milliseconds>(*deadline - Clock::now());
      if (left.count() <= 0) return false;
      wait_ms = static_cast<int>(std::min<int64_t>(left.count(), 1 << 30));
    }
    pollfd fds[2] = {{out_fd_, POLLIN, 0}, {err_fd_, POLLIN, 0}};
    int ready = ::poll(fds, 2, wait_ms);
    if (ready < 0 && errno == EINTR) continue;
    if (ready < 0) return false;
    if (ready == 0) return false;
    for (int i = 0; i < 2; ++i) {
      if (fds[i].revents == 0) continue;
      int& fd = i == 0 ? out_fd_ : err_fd_;
      ssize_t n = ::read(fd, buffer, sizeof buffer);
      if (n > 0) {
        take(i == 0 ? Stream::out : Stream::err,
             std::string_view(buffer, static_cast<std::size_t>(n)));
      } else if (n == 0 || (errno != EAGAIN && errno != EINTR)) {
        // A terminal's master end reports the child's last close as EIO.
        close_fd(fd);
      }
    }
  }
  return true;
}

std::string brelo_beside_this_program() {
  char path[4096];
  ssize_t n = ::readlink("/proc/self/exe", path, sizeof path - 1);
  if (n > 0) {
    std::string self(path, static_cast<std::size_t>(n));
    std::string beside = self.substr(0, self.rfind('/') + 1) + "brelo";
    if (::access(beside.c_str(), X_OK) == 0) return beside;
  }
  return "brelo";
}

}  // namespace brelo_host

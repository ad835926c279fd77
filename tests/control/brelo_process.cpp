#include "brelo_process.hpp"

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <errno.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <random>
#include <stdexcept>

#include "control/client/control_client.hpp"

namespace control_test {
namespace {
std::vector<char*> c_array(const std::vector<std::string>& texts) {
  std::vector<char*> array;
  for (const std::string& text : texts) array.push_back(const_cast<char*>(text.c_str()));
  array.push_back(nullptr);
  return array;
}

bool port_is_free(uint16_t port) {
  int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return false;
  int on = 1;
  ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(port);
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  bool free = ::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
  ::close(fd);
  return free;
}
}  // namespace

uint16_t free_port_pair() {
  // Below the range the system hands out to outgoing connections.
  static std::mt19937 random(std::random_device{}() ^ static_cast<unsigned>(::getpid()));
  std::uniform_int_distribution<int> pick(20000 / 2, 32000 / 2);
  for (;;) {
    auto port = static_cast<uint16_t>(pick(random) * 2);
    if (port_is_free(port) && port_is_free(static_cast<uint16_t>(port + 1))) return port;
  }
}

namespace {
// A pseudo-terminal in raw mode (no line-end translation): the master end
// for reading and the slave end for the child's standard output.
bool open_terminal(int* master, int* slave) {
  *master = ::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
  if (*master < 0 || ::grantpt(*master) != 0 || ::unlockpt(*master) != 0) return false;
  char name[128];
  if (::ptsname_r(*master, name, sizeof name) != 0) return false;
  *slave = ::open(name, O_RDWR | O_NOCTTY | O_CLOEXEC);
  if (*slave < 0) return false;
  termios mode{};
  ::tcgetattr(*slave, &mode);
  ::cfmakeraw(&mode);
  return ::tcsetattr(*slave, TCSANOW, &mode) == 0;
}
}  // namespace

ChildProcess::ChildProcess(const std::string& program, const std::vector<std::string>& args,
                           const std::vector<std::string>& env, bool terminal) {
  int out_pipe[2];
  int err_pipe[2];
  if (terminal) {
    if (!open_terminal(&out_pipe[0], &out_pipe[1])) throw std::runtime_error("no pseudo-terminal");
  } else if (::pipe2(out_pipe, O_CLOEXEC) != 0) {
    throw std::runtime_error("pipe2 failed");
  }
  if (::pipe2(err_pipe, O_CLOEXEC) != 0) throw std::runtime_error("pipe2 failed");
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_adddup2(&actions, out_pipe[1], STDOUT_FILENO);
  posix_spawn_file_actions_adddup2(&actions, err_pipe[1], STDERR_FILENO);
  std::vector<char*> argv = c_array(args);
  std::vector<char*> envp = c_array(env);
  int failed = ::posix_spawn(&pid_, program.c_str(), &actions, nullptr, argv.data(), envp.data());
  posix_spawn_file_actions_destroy(&actions);
  ::close(out_pipe[1]);
  ::close(err_pipe[1]);
  out_fd_ = out_pipe[0];
  err_fd_ = err_pipe[0];
  if (failed != 0) {
    ::close(out_fd_);
    ::close(err_fd_);
    throw std::runtime_error("cannot start " + program);
  }
  reader_ = std::thread([this] { pump(); });
}

ChildProcess::~ChildProcess() {
  wait(milliseconds(0));  // kills a child that is still running
  ::close(out_fd_);
  ::close(err_fd_);
}

void ChildProcess::pump() {
  char buffer[65536];
  bool out_open = true;
  bool err_open = true;
  while (out_open || err_open) {
    pollfd fds[2] = {{out_open ? out_fd_ : -1, POLLIN, 0}, {err_open ? err_fd_ : -1, POLLIN, 0}};
    if (::poll(fds, 2, -1) < 0) {
      if (errno == EINTR) continue;
      return;
    }
    for (int i = 0; i < 2; ++i) {
      if (fds[i].revents == 0) continue;
      ssize_t n = ::read(fds[i].fd, buffer, sizeof buffer);
      std::lock_guard<std::mutex> lock(mutex_);
      if (n > 0) {
        (i == 0 ? out_ : err_).append(buffer, static_cast<std::size_t>(n));
      } else if (n == 0 || errno != EINTR) {
        // A terminal's master end reports the child's last close as EIO.
        (i == 0 ? out_open : err_open) = false;
      }
      changed_.notify_all();
    }
  }
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

void ChildProcess::signal(int number) {
  if (!reaped_) ::kill(pid_, number);
}

ExitStatus ChildProcess::wait(milliseconds timeout) {
  auto deadline = std::chrono::steady_clock::now() + timeout;
  while (!reaped_) {
    int status = 0;
    pid_t done = ::waitpid(pid_, &status, WNOHANG);
    if (done == pid_) {
      reaped_ = true;
      if (WIFEXITED(status)) {
        status_.exited = true;
        status_.code = WEXITSTATUS(status);
      } else if (WIFSIGNALED(status)) {
        status_.signal = WTERMSIG(status);
      }
    } else if (std::chrono::steady_clock::now() >= deadline) {
      ::kill(pid_, SIGKILL);
      ::waitpid(pid_, &status, 0);
      reaped_ = true;
      status_.timed_out = true;
      status_.signal = SIGKILL;
    } else {
      std::this_thread::sleep_for(milliseconds(2));
    }
  }
  if (reader_.joinable()) reader_.join();  // everything the child wrote is in
  return status_;
}

std::string ChildProcess::state() {
  if (!reaped_) {
    int status = 0;
    if (::waitpid(pid_, &status, WNOHANG) != pid_) return "running";
    reaped_ = true;
    status_.exited = WIFEXITED(status);
    status_.code = status_.exited ? WEXITSTATUS(status) : -1;
    status_.signal = WIFSIGNALED(status) ? WTERMSIG(status) : 0;
  }
  return status_.exited ? "exit code " + std::to_string(status_.code)
                        : "signal " + std::to_string(status_.signal);
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
  return process_->wait();
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

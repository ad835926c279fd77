#include "ctl/simulation_process.hpp"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <random>
#include <thread>

namespace brelo_ctl {

SimulationProcess::~SimulationProcess() {
  if (pid_ > 0 && !reaped_) {
    ::kill(pid_, SIGKILL);
    ::waitpid(pid_, nullptr, 0);
  }
}

bool SimulationProcess::start(const std::string& program, const std::vector<std::string>& args,
                              std::string* why) {
  std::vector<std::string> argv_text{program};
  argv_text.insert(argv_text.end(), args.begin(), args.end());
  std::vector<char*> argv;
  for (std::string& a : argv_text) argv.push_back(a.data());
  argv.push_back(nullptr);
  // The exec failure travels back through a pipe closed on a successful exec.
  int report[2];
  if (::pipe2(report, O_CLOEXEC) != 0) {
    *why = std::strerror(errno);
    return false;
  }
  const pid_t parent = ::getpid();
  pid_t pid = ::fork();
  if (pid < 0) {
    *why = std::strerror(errno);
    ::close(report[0]);
    ::close(report[1]);
    return false;
  }
  if (pid == 0) {
    ::setpgid(0, 0);
    ::prctl(PR_SET_PDEATHSIG, SIGTERM);
    if (::getppid() != parent) ::_exit(127);
    int null = ::open("/dev/null", O_RDWR);
    if (null >= 0) {
      ::dup2(null, STDIN_FILENO);
      ::dup2(null, STDOUT_FILENO);
    }
    ::setenv("DBG", "", 1);
    ::execvp(argv[0], argv.data());
    int error = errno;
    (void)!::write(report[1], &error, sizeof error);
    ::_exit(127);
  }
  ::close(report[1]);
  int error = 0;
  ssize_t got;
  do {
    got = ::read(report[0], &error, sizeof error);
  } while (got < 0 && errno == EINTR);
  ::close(report[0]);
  pid_ = pid;
  if (got == static_cast<ssize_t>(sizeof error)) {
    ::waitpid(pid_, nullptr, 0);
    reaped_ = true;
    *why = "cannot run " + program + ": " + std::strerror(error);
    return false;
  }
  return true;
}

bool SimulationProcess::running() {
  if (pid_ <= 0 || reaped_) return false;
  int status = 0;
  if (::waitpid(pid_, &status, WNOHANG) == pid_) {
    reaped_ = true;
    status_ = status;
    return false;
  }
  return true;
}

void SimulationProcess::interrupt() {
  if (running()) ::kill(pid_, SIGINT);
}

std::optional<int> SimulationProcess::wait(std::chrono::milliseconds timeout) {
  auto deadline = std::chrono::steady_clock::now() + timeout;
  while (running()) {
    if (std::chrono::steady_clock::now() >= deadline) {
      ::kill(pid_, SIGKILL);
      ::waitpid(pid_, &status_, 0);
      reaped_ = true;
      return std::nullopt;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  if (pid_ <= 0 || !WIFEXITED(status_)) return std::nullopt;
  return WEXITSTATUS(status_);
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

namespace {
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
  std::mt19937 random(std::random_device{}() ^ static_cast<unsigned>(::getpid()));
  std::uniform_int_distribution<int> pick(20000 / 2, 32000 / 2);
  for (;;) {
    auto port = static_cast<uint16_t>(pick(random) * 2);
    if (port_is_free(port) && port_is_free(static_cast<uint16_t>(port + 1))) return port;
  }
}

}  // namespace brelo_ctl

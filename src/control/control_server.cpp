#include "control/control_server.hpp"

#include <arpa/inet.h>
#include <errno.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <latch>
#include <thread>

#include "control/command_processor.hpp"
#include "control/command_reader.hpp"
#include "control/event_clients.hpp"
#include "control/stop_signal.hpp"
#include "control/variable_access.hpp"
#include "control/wire/socket_io.hpp"
#include "kernel/client_events.hpp"
#include "kernel/dbg.hpp"
#include "kernel/signals.hpp"
#include "kernel/sim_requests.hpp"

namespace {
int commandServerSocket = -1;
int eventServerSocket = -1;
std::array<int, ctl::MAX_CLIENTS> commandClients{-1, -1, -1, -1};  // command thread only
std::thread eventAcceptThread;
std::thread commandReadThread;
std::mutex lifecycle;  // initializeSockets and shutdownSockets
bool running = false;
bool exit_hook_installed = false;

constexpr int bind_retry_seconds = 10;

// A failure on a control thread ends the process at once: running the exit
// handlers from here would tear down state the simulation thread still uses.
[[noreturn]] void fail_from_thread() {
  std::fflush(nullptr);
  _exit(-1);
}

void sleep_for_bind_retry() {
  for (int slice = 0; slice < bind_retry_seconds * 10; ++slice) {
    if (sigint_pending()) exit_on_sigint();  // ^C while the port is taken
    usleep(100000);
  }
}

// Accepts a waiting connection. -1 when it went away before being accepted
// or the process is out of descriptors for the moment; those pass.
int acceptConnection(int server) {
  int fd = ::accept4(server, nullptr, nullptr, SOCK_CLOEXEC);
  if (fd >= 0) {
    // Frames and acknowledgements are small and each waits for an answer:
    // send them at once rather than coalescing them.
    int on = 1;
    ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
    return fd;
  }
  switch (errno) {
    case EINTR:
    case EAGAIN:
    case ECONNABORTED:
    case EPROTO:
    case EPERM: return -1;
    case EMFILE:
    case ENFILE:
    case ENOBUFS:
    case ENOMEM:
      dbg_clear(DBG_ERROR | DBG_SIM, "SIM: Cannot accept a client now: %s\n", std::strerror(errno));
      usleep(100000);
      return -1;
    default:
      dbg_clear(DBG_ERROR | DBG_SIM, "SIM: Could not accept connection: %s\n",
                std::strerror(errno));
      fail_from_thread();
  }
}

// Each thread announces itself once; start-up waits for the announcement so
// the line always lands at the same place in the output.
std::latch* thread_started = nullptr;

void eventAcceptThreadFunc() {
  dbg_clear(DBG_SIM, "SIM: eventAcceptThread running.\n");
  thread_started->count_down();
  for (;;) {
    ctl::IoStatus status =
        ctl::wait_readable(eventServerSocket, ctl::no_deadline(), control_stop::fd());
    if (status == ctl::IoStatus::stopped || control_stop::raised()) return;
    if (status != ctl::IoStatus::ok) continue;
    int fd = acceptConnection(eventServerSocket);
    if (fd >= 0) add_event_client(fd);
  }
}

void close_command_client(int slot) {
  ::close(commandClients[slot]);
  commandClients[slot] = -1;
  reset_batch(slot);
}

void commandReadThreadFunc() {
  dbg_clear(DBG_SIM, "SIM: commandReadThread running.\n");
  thread_started->count_down();
  for (;;) {
    std::array<pollfd, ctl::MAX_CLIENTS + 2> fds{};
    for (int slot = 0; slot < ctl::MAX_CLIENTS; ++slot) {
      fds[slot] = {commandClients[slot], POLLIN | POLLPRI, 0};  // -1: ignored by poll
    }
    fds[ctl::MAX_CLIENTS] = {commandServerSocket, POLLIN, 0};
    fds[ctl::MAX_CLIENTS + 1] = {control_stop::fd(), POLLIN, 0};
    if (::poll(fds.data(), fds.size(), -1) < 0) {
      if (errno != EINTR) {
        dbg_clear(DBG_SIM, "SIM: commandReadThreadFunc: error in select(): %s\n",
                  std::strerror(errno));
        usleep(10000);
      }
      continue;
    }
    if (fds[ctl::MAX_CLIENTS + 1].revents != 0 || control_stop::raised()) return;

    for (int slot = 0; slot < ctl::MAX_CLIENTS; ++slot) {
      short events = fds[slot].revents;
      if (commandClients[slot] < 0 || events == 0) continue;
      if ((events & (POLLIN | POLLHUP)) != 0 && !readVarnixCommand(commandClients[slot], slot)) {
        close_command_client(slot);
        continue;
      }
      if ((events & (POLLPRI | POLLERR | POLLNVAL)) != 0) close_command_client(slot);
    }

    if (fds[ctl::MAX_CLIENTS].revents != 0) {
      int fd = acceptConnection(commandServerSocket);
      if (fd < 0) continue;
      int* free_slot = std::find(commandClients.begin(), commandClients.end(), -1);
      if (free_slot == commandClients.end()) {
        ::close(fd);  // a fifth client
      } else {
        *free_slot = fd;
        reset_batch(static_cast<int>(free_slot - commandClients.begin()));
      }
    }
  }
}

void close_socket(int& fd) {
  if (fd >= 0) ::close(fd);
  fd = -1;
}
}  // namespace

int createServerSocket(uint16_t port) {
  int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) {
    dbg_clear(DBG_ERROR | DBG_SIM, "SIM: Could not create server socket: %s\n",
              std::strerror(errno));
    std::exit(-1);
  }
  int on = 1;
  ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);

  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(port);
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  while (::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
    dbg_clear(DBG_ERROR | DBG_SIM, "SIM: Could not bind server socket to port %d: %s\n", port,
              std::strerror(errno));
    dbg_clear(DBG_ERROR | DBG_SIM, "SIM: Perhaps another copy of VARNIX is already running?\n");
    dbg_clear(DBG_ERROR | DBG_SIM, "SIM: Will retry in 10 seconds.\n");
    std::fflush(stdout);
    sleep_for_bind_retry();
  }
  if (::listen(fd, 1) != 0) {
    dbg_clear(DBG_ERROR | DBG_SIM, "SIM: Could not listen on server socket: %s\n",
              std::strerror(errno));
    std::exit(-1);
  }
  dbg_clear(DBG_SIM, "SIM: Created server socket listening on port %d.\n", port);
  return fd;
}

void initializeSockets(const ControlSettings& settings) {
  std::lock_guard<std::mutex> guard(lifecycle);
  if (running) return;
  dbg_clear(DBG_SIM, "SIM: Initializing sockets\n");
  commandClients.fill(-1);
  for (int slot = 0; slot < ctl::MAX_CLIENTS; ++slot) reset_batch(slot);
  event_clients_reset(settings.gui);

  commandServerSocket = createServerSocket(settings.command_port);
  eventServerSocket = createServerSocket(settings.event_port);

  control_stop::arm();
  // Variable reads of the command thread are served by the simulation
  // thread, the one calling this.
  variable_access_open();
  sim_requests::set_handler(variable_access_serve);
  std::latch event_thread_started(1);
  thread_started = &event_thread_started;
  eventAcceptThread = std::thread(eventAcceptThreadFunc);
  event_thread_started.wait();
  std::latch command_thread_started(1);
  thread_started = &command_thread_started;
  commandReadThread = std::thread(commandReadThreadFunc);
  command_thread_started.wait();
  thread_started = nullptr;
  set_client_event_sink(send_event_to_clients);
  event_clients_enable(true);
  running = true;
  if (!exit_hook_installed) {
    // Registered after every global the threads use was constructed, so it
    // runs before any of them is destroyed.
    std::atexit(shutdownSockets);
    exit_hook_installed = true;
  }
}

void shutdownSockets() {
  std::lock_guard<std::mutex> guard(lifecycle);
  if (!running) return;
  running = false;
  set_client_event_sink(nullptr);
  event_clients_enable(false);
  event_clients_stop();
  variable_access_close();  // a read waiting for a simulation that has ended gives up
  control_stop::raise();
  // Without a stop signal (no pipe could be made) the threads cannot be
  // woken: they are left to end with the process.
  const bool can_wake = control_stop::fd() >= 0;
  for (std::thread* thread : {&eventAcceptThread, &commandReadThread}) {
    if (!thread->joinable()) continue;
    if (!can_wake || thread->get_id() == std::this_thread::get_id()) {
      thread->detach();
    } else {
      thread->join();
    }
  }
  if (!can_wake) return;
  for (int slot = 0; slot < ctl::MAX_CLIENTS; ++slot) {
    if (commandClients[slot] >= 0) close_command_client(slot);
  }
  event_clients_close_all();
  close_socket(commandServerSocket);
  close_socket(eventServerSocket);
  control_stop::disarm();
}

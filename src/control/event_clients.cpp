#include "control/event_clients.hpp"

#include <poll.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <condition_variable>
#include <cstring>
#include <mutex>
#include <thread>
#include <vector>

#include "control/stop_signal.hpp"
#include "control/wire/gui_msg.hpp"
#include "control/wire/records.hpp"
#include "control/wire/socket_io.hpp"
#include "kernel/dbg.hpp"
#include "kernel/pacing.hpp"
#include "kernel/schedule.hpp"
#include "kernel/signals.hpp"
#include "kernel/sim_requests.hpp"
#include "kernel/vex_state.hpp"
#include "kernel/world.hpp"

static_assert(ctl::AM_DEBUGMSGEVENT == AM_DEBUGMSGEVENT);
static_assert(sizeof(ctl::DebugMsgEvent) == DBG_CLIENT_LINE_SIZE);

RelaxedAtomic<uint16_t> eventMask{ctl::ALL_EVENTS_MASK};

namespace {
// Guards eventClients; broadcast on eventClientsCond when a client connects.
std::mutex eventClientsLock;
std::condition_variable eventClientsCond;
std::array<int, ctl::MAX_CLIENTS> eventClients{-1, -1, -1, -1};
std::atomic<int> connected{0};
// Newcomers being sent their initial event. Until one is in its slot,
// senders must not take the lock-free way out for "no clients": the
// newcomer may already have acknowledged its initial event and be waiting
// for the next one.
std::atomic<int> greeting{0};
bool stopping = false;  // guarded by eventClientsLock

// Senders take turns, so that frames and acknowledgements of two senders
// never interleave on one socket. Taken before eventClientsLock, never after.
std::mutex send_turn;

std::atomic<bool> socketsInitialized{false};
std::atomic<bool> GUI_enabled{false};
std::atomic<long long> stall_timeout_ms{5000};
std::atomic<std::thread::id> simulation_thread;  // set by event_clients_reset

bool on_simulation_thread() { return std::this_thread::get_id() == simulation_thread.load(); }

// Waits on eventClientsCond until `done` holds. The simulation thread takes
// SIGINT only between events, so while it waits here it looks for one
// itself: ^C must end a -gui run that waits for a client. It also serves
// the requests of control threads (variable reads) while it waits.
template <typename Done>
void wait_for_client(std::unique_lock<std::mutex>& lock, Done done) {
  const bool serving = on_simulation_thread();
  while (!done()) {
    if (!serving || !sim_requests::detail::posted.load()) {
      eventClientsCond.wait_for(lock, std::chrono::milliseconds(100));
    }
    if (!serving) continue;
    if (sigint_pending()) {
      lock.unlock();
      exit_on_sigint();
    }
    lock.unlock();
    sim_requests::serve();
    lock.lock();
  }
}

// Ends a wait_for_client of the simulation thread when a request is posted.
// The lock is only tried, never waited for (the accept thread may hold it
// while a newcomer is slow to take its initial event); should the wakeup
// slip between the waiter's check and its wait, the wait's time slice
// covers it.
const sim_requests::Waker wake_client_wait{[] {
  if (eventClientsLock.try_lock()) eventClientsLock.unlock();
  eventClientsCond.notify_all();
}};

// What wakes the simulation thread while it waits for a client: a request
// to serve, or a ^C, which ends the run without waiting out a slow client.
void serve_while_delivering() {
  sim_requests::on_wake();
  if (sigint_pending()) exit_on_sigint();
}

// Sends a frame and waits for the acknowledgement; leaves the socket open.
// The simulation thread serves requests of control threads meanwhile: a
// slow client must not hold up variable reads.

bool deliver(std::span<const uint8_t> frame, int fd) {
  ctl::Deadline deadline = ctl::deadline_after(client_stall_timeout());
  ctl::WaitService service;
  if (on_simulation_thread()) service = {sim_requests::wake_fd(), serve_while_delivering};
  if (ctl::write_all(fd, frame, deadline, control_stop::fd(), service) != ctl::IoStatus::ok) {
    return false;
  }
  uint8_t ack = 0;
  return ctl::read_exact(fd, std::span(&ack, 1), deadline, control_stop::fd(), nullptr, service) ==
         ctl::IoStatus::ok;
}

// Forgets the client in `slot` (if it still holds fd) and closes it.
void drop_client(int slot, int fd) {
  {
    std::lock_guard<std::mutex> lock(eventClientsLock);
    if (eventClients[slot] != fd) return;
    eventClients[slot] = -1;
    --connected;
  }
  ::close(fd);
}
}  // namespace

std::chrono::milliseconds client_stall_timeout() {
  return std::chrono::milliseconds(stall_timeout_ms.load());
}

void set_client_stall_timeout(std::chrono::milliseconds timeout) {
  stall_timeout_ms = timeout.count();
}

void event_clients_reset(bool gui) {
  std::lock_guard<std::mutex> lock(eventClientsLock);
  eventClients.fill(-1);
  connected = 0;
  greeting = 0;
  stopping = false;
  eventMask = ctl::ALL_EVENTS_MASK;
  GUI_enabled = gui;
  socketsInitialized = false;
  simulation_thread = std::this_thread::get_id();
}

void event_clients_enable(bool on) { socketsInitialized = on; }

void event_clients_stop() {
  {
    std::lock_guard<std::mutex> lock(eventClientsLock);
    stopping = true;
  }
  eventClientsCond.notify_all();
}

void event_clients_close_all() {
  std::lock_guard<std::mutex> lock(eventClientsLock);
  for (int& fd : eventClients) {
    if (fd >= 0) ::close(fd);
    fd = -1;
  }
  connected = 0;
}

int event_client_count() { return connected.load(); }

namespace {
// Clients of a previous world are let go (the server, if one runs, is shut
// down first). How long a client may stall is a setting and stays.
const WorldReset forget_event_clients{[] {
  event_clients_close_all();
  event_clients_reset(false);
}};
}  // namespace

namespace {
std::vector<uint8_t> init_event_frame() {
  ctl::VarnixInitEvent init;
  init.numMotes = vex_state.num_nodes;
  init.radioModel = vex_state.radioModel;
  init.rate = static_cast<uint32_t>(get_sim_rate());  // saturates at the field's largest value
  auto payload = ctl::encode_init_event(init);
  return ctl::build_frame(ctl::AM_VARNIXINITEVENT, 0, sim::now(), payload);
}
}  // namespace

int sendInitEvent(int fd) { return deliver(init_event_frame(), fd) ? 0 : -1; }

namespace {
// True when the client has closed its end (or the connection failed).
bool peer_gone(int fd) {
  pollfd probe{fd, POLLRDHUP, 0};
  return ::poll(&probe, 1, 0) > 0 && (probe.revents & (POLLRDHUP | POLLHUP | POLLERR)) != 0;
}

// A client that left is otherwise noticed only when an event is sent to it;
// while the simulation sends none, it would keep its slot and turn every
// newcomer away. Holding the sending turn means no sender is using a socket
// when it is closed here. The turn is only tried for a while, never waited
// for: a -gui sender may hold it while it waits for a client to connect.
void drop_vanished_clients() {
  std::unique_lock<std::mutex> turn(send_turn, std::try_to_lock);
  for (int attempt = 0; attempt < 100 && !turn.owns_lock(); ++attempt) {
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
    turn.try_lock();
  }
  if (!turn.owns_lock()) return;  // senders are busy; they drop such clients themselves
  std::lock_guard<std::mutex> lock(eventClientsLock);
  for (int& fd : eventClients) {
    if (fd < 0 || !peer_gone(fd)) continue;
    ::close(fd);
    fd = -1;
    --connected;
  }
}
}  // namespace

bool add_event_client(int fd) {
  if (connected.load() == ctl::MAX_CLIENTS) drop_vanished_clients();
  bool kept = false;
  ++greeting;
  {
    std::lock_guard<std::mutex> lock(eventClientsLock);
    // Sent while holding the lock, so that no other frame can reach the
    // client before its initial event; a fifth client gets it too.
    bool delivered = sendInitEvent(fd) == 0;
    auto free_slot = std::find(eventClients.begin(), eventClients.end(), -1);
    if (delivered && free_slot != eventClients.end()) {
      *free_slot = fd;
      ++connected;
      kept = true;
    }
    --greeting;
  }
  if (kept) {
    eventClientsCond.notify_all();
  } else {
    ::close(fd);
  }
  return kept;
}

void send_event_to_clients(uint16_t mote, uint16_t type, vex_time_t time, const void* payload,
                           std::size_t length) {
  if (!socketsInitialized) return;
  // The common case without clients takes no lock.
  if (connected == 0 && greeting == 0 && !GUI_enabled) return;

  std::lock_guard<std::mutex> turn(send_turn);
  std::array<int, ctl::MAX_CLIENTS> clients;
  {
    std::unique_lock<std::mutex> lock(eventClientsLock);
    if (GUI_enabled) wait_for_client(lock, [] { return connected > 0 || stopping; });
    clients = eventClients;
  }
  if (std::all_of(clients.begin(), clients.end(), [](int fd) { return fd < 0; })) return;

  // The payload travels with its type's record length, zero-filled or cut.
  std::size_t record = ctl::record_size(type).value_or(length);
  std::vector<uint8_t> bytes(record, 0);
  if (payload != nullptr) std::memcpy(bytes.data(), payload, std::min(record, length));
  std::vector<uint8_t> frame = ctl::build_frame(type, mote, time, bytes);

  for (int slot = 0; slot < ctl::MAX_CLIENTS; ++slot) {
    int fd = clients[slot];
    if (fd < 0 || (type & eventMask) == 0) continue;
    if (!deliver(frame, fd)) drop_client(slot, fd);
  }
}

void waitForGuiConnection() {
  dbg_clear(DBG_SIM, "SIM: Waiting for connection from GUI...\n");
  std::unique_lock<std::mutex> lock(eventClientsLock);
  wait_for_client(lock, [] {
    bool found = false;
    for (int fd : eventClients) {
      if (fd < 0) continue;
      dbg_clear(DBG_SIM, "SIM: Got client connection fd %d\n", fd);
      found = true;
    }
    return found || stopping;
  });
}

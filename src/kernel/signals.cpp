#include "kernel/signals.hpp"

#include <pthread.h>
#include <signal.h>
#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <thread>

#include "kernel/attention.hpp"
#include "kernel/dbg.hpp"
#include "kernel/exit_hooks.hpp"
#include "kernel/sim_requests.hpp"

namespace {
std::atomic<bool> sigint_received{false};
int signaled = 0;  // set once the exit on SIGINT has begun
void (*sigint_exit_hook)() = nullptr;

sigset_t sigint_set() {
  sigset_t set;
  sigemptyset(&set);
  sigaddset(&set, SIGINT);
  return set;
}

void wait_for_sigint() {
  const sigset_t set = sigint_set();
  for (;;) {
    int signal_number = 0;
    if (sigwait(&set, &signal_number) != 0 || signal_number != SIGINT) continue;
    sigint_received.store(true, std::memory_order_release);
    attention::raise(attention::sigint);
    sim_requests::post();  // ends whatever wait the simulation thread is in
  }
}
}  // namespace

void init_signals() {
  const sigset_t set = sigint_set();
  pthread_sigmask(SIG_BLOCK, &set, nullptr);
  signal(SIGPIPE, SIG_IGN);
  std::thread(wait_for_sigint).detach();
}

bool sigint_pending() { return sigint_received.load(std::memory_order_acquire); }

void exit_on_sigint() {
  if (signaled == 0) {
    signaled = 1;
    char text[128];
    printTime(text, sizeof text);
    std::printf("Exiting on SIGINT at %s.\n", text);
    if (sigint_exit_hook != nullptr) sigint_exit_hook();
  }
  run_end_hooks();
  std::fflush(stdout);
  std::fflush(stderr);
  // Skip static destructors: control threads may still be using shared state.
  _exit(0);
}

void set_sigint_exit_hook(void (*hook)()) { sigint_exit_hook = hook; }

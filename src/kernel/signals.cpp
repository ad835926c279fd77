#include "kernel/signals.hpp"

#include <pthread.h>
#include <signal.h>
#include <time.h>
#include <unistd.h>

#include <cstdio>

#include "kernel/dbg.hpp"
#include "kernel/exit_hooks.hpp"

namespace {
volatile sig_atomic_t sigint_received = 0;
int signaled = 0;  // set once the exit on SIGINT has begun
}  // namespace

void handle_signal(int signal_number) {
  if (signal_number == SIGINT) sigint_received = 1;
}

void init_signals() {
  struct sigaction action {};
  action.sa_handler = handle_signal;
  sigemptyset(&action.sa_mask);
  action.sa_flags = 0;  // no restart: a pending sleep ends at once
  sigaction(SIGINT, &action, nullptr);
  signal(SIGPIPE, SIG_IGN);
}

bool sigint_pending() { return sigint_received != 0; }

void let_signals_through() {
  // A sleep of no time: ThreadSanitizer runs held-back handlers on entering
  // a call that may block (a plain call into the library is not enough).
  timespec none{0, 0};
  nanosleep(&none, nullptr);
}

void exit_on_sigint() {
  if (signaled == 0) {
    signaled = 1;
    char text[128];
    printTime(text, sizeof text);
    std::printf("Exiting on SIGINT at %s.\n", text);
  }
  run_end_hooks();
  std::fflush(stdout);
  std::fflush(stderr);
  // Skip static destructors: control threads may still be using shared state.
  _exit(0);
}

SigintBlock::SigintBlock() {
  sigset_t set;
  sigemptyset(&set);
  sigaddset(&set, SIGINT);
  pthread_sigmask(SIG_BLOCK, &set, nullptr);
}

SigintBlock::~SigintBlock() {
  sigset_t set;
  sigemptyset(&set);
  sigaddset(&set, SIGINT);
  pthread_sigmask(SIG_UNBLOCK, &set, nullptr);
}

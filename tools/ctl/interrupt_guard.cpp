#include "ctl/interrupt_guard.hpp"

#include <signal.h>

namespace brelo_ctl {
namespace {
volatile sig_atomic_t interrupted = 0;
void on_interrupt(int) { interrupted = 1; }

struct sigaction old_int {};
struct sigaction old_term {};
}  // namespace

InterruptGuard::InterruptGuard() {
  interrupted = 0;
  struct sigaction action {};
  action.sa_handler = on_interrupt;
  sigemptyset(&action.sa_mask);
  ::sigaction(SIGINT, &action, &old_int);
  ::sigaction(SIGTERM, &action, &old_term);
}

InterruptGuard::~InterruptGuard() {
  ::sigaction(SIGINT, &old_int, nullptr);
  ::sigaction(SIGTERM, &old_term, nullptr);
}

bool interrupt_requested() { return interrupted != 0; }

}  // namespace brelo_ctl

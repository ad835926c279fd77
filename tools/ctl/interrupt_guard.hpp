#pragma once
// Ctrl-C (and SIGTERM) for the verbs that run a simulation until they are
// stopped: while a guard lives, the signal only sets a flag, and the verb
// ends its session in order when it sees it.

namespace brelo_ctl {

class InterruptGuard {
 public:
  InterruptGuard();  // clears the flag and takes SIGINT and SIGTERM
  ~InterruptGuard();  // gives them back
  InterruptGuard(const InterruptGuard&) = delete;
  InterruptGuard& operator=(const InterruptGuard&) = delete;
};

// True once SIGINT or SIGTERM arrived while a guard lived.
bool interrupt_requested();

}  // namespace brelo_ctl

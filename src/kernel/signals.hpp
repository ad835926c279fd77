#pragma once
// The interrupt signal. The handler only records that ^C arrived; the
// simulation thread notices it between events and ends the run cleanly, so
// a signal never lands in the middle of a half-written line or a half-run
// event, and a second ^C during the exit does nothing.

// Installs the SIGINT handler and ignores SIGPIPE (a vanished control client
// then only makes a socket call fail).
void init_signals();
void handle_signal(int signal_number);

// True once SIGINT has arrived.
bool sigint_pending();

// Gives a signal that has arrived the chance to reach its handler. Some
// runtimes (ThreadSanitizer's) hold a signal back until the thread next
// makes a call that may block, which a simulation running flat out behind
// real time may not do for a long while; the main loop calls this now and
// then (every 65,536 passes: about 4 ms at full speed).
void let_signals_through();

// Prints "Exiting on SIGINT at <time>.", runs the run-end hooks
// (exit_hooks.hpp) and ends the process with status 0.
[[noreturn]] void exit_on_sigint();

// Blocks SIGINT in the calling thread while alive, so that threads created
// meanwhile (the control threads) inherit the block and the signal always
// reaches the simulation thread, whose sleeps it cuts short.
class SigintBlock {
 public:
  SigintBlock();
  ~SigintBlock();
  SigintBlock(const SigintBlock&) = delete;
  SigintBlock& operator=(const SigintBlock&) = delete;
};

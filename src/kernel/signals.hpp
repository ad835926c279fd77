#pragma once
// The interrupt signal. No thread takes SIGINT asynchronously: every thread
// blocks it, and one small thread waits for it with sigwait, records that
// ^C arrived and wakes the simulation thread wherever it waits. The
// simulation thread notices it between events (or in its waits) and ends
// the run cleanly, so a signal never lands in the middle of a half-written
// line or a half-run event, and a second ^C during the exit does nothing.
// Waiting for the signal synchronously also means no runtime can hold it
// back from a handler (ThreadSanitizer delivers asynchronous signals only
// when the receiving thread next enters a blocking call).

// Blocks SIGINT in the calling thread (call it before any other thread
// starts, so every thread inherits the block), starts the thread that waits
// for it, and ignores SIGPIPE (a vanished control client then only makes a
// socket call fail).
void init_signals();

// True once SIGINT has arrived.
bool sigint_pending();

// Prints "Exiting on SIGINT at <time>.", runs the run-end hooks
// (exit_hooks.hpp) and ends the process with status 0.
[[noreturn]] void exit_on_sigint();

// Work that must be done before exit_on_sigint ends the process (it skips
// static destructors), such as writing a file of the run's results. Called
// on the simulation thread, once, before standard output is flushed.
void set_sigint_exit_hook(void (*hook)());

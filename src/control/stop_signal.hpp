#pragma once
// The signal that tells the control threads to stop: a pipe whose read end
// becomes readable, so that every wait on a socket (poll) can include it and
// ends at once when the ports close.

namespace control_stop {

// Creates a fresh, unraised signal.
void arm();
// Raises the signal: every wait that includes fd() ends.
void raise();
// Closes the pipe; fd() is -1 again.
void disarm();
// The descriptor to include in waits; -1 when there is no signal.
int fd();
bool raised();

}  // namespace control_stop

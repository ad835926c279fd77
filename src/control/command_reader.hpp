#pragma once
// Reads and answers one command frame of a command client.

// readVarnixCommand: reads one whole frame from the client in `slot`, acts
// on it (commands for motes at or above the mote count are ignored) and,
// outside a batch, acknowledges it with one byte and sends its reply, if
// any, waiting for the client's acknowledgement of the reply.
//
// Returns false when the connection has ended or failed (end of stream, a
// frame left unfinished or an acknowledgement unsent for longer than the
// stall timeout, a failed write); the caller then closes the socket.
bool readVarnixCommand(int fd, int slot);

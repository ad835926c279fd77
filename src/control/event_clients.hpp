#pragma once
// The clients of the event port and everything sent to them.
//
// Every frame to an event client waits for that client's one-byte
// acknowledgement, so a slow client slows the simulation down. A client that
// stops reading or acknowledging for longer than the stall timeout, or that
// has gone away, is closed and forgotten; the simulation goes on.
//
// Guarantees: frames reach each client whole and in the order they were
// sent, also when the simulation thread and a control thread send at the
// same time (senders take turns); the initial event is the first frame a
// client receives; the event mask and the client table may change at any
// moment without a data race.

#include <chrono>
#include <cstddef>
#include <cstdint>

#include "kernel/relaxed_atomic.hpp"
#include "kernel/vex_types.hpp"

// The event types sent to clients (bitwise); all of them at start.
extern RelaxedAtomic<uint16_t> eventMask;

// Back to the start: no clients, mask 0xFFFF, sending off. `gui`: senders
// wait for a first client instead of dropping events when there is none.
void event_clients_reset(bool gui);
// Turns sending on (socketsInitialized) or off.
void event_clients_enable(bool on);
// Wakes anything waiting for a client and refuses further waits (shutdown).
void event_clients_stop();
// Closes every connected event client.
void event_clients_close_all();
// The number of connected event clients.
int event_client_count();

// How long a client may leave a started frame unfinished, or an
// acknowledgement unsent, before it is closed.
std::chrono::milliseconds client_stall_timeout();
void set_client_stall_timeout(std::chrono::milliseconds timeout);  // tests

// Accept thread: sends the initial event to a new client and puts it in the
// first free slot. With every slot taken, or when the initial event cannot
// be delivered, the socket is closed; returns whether it was kept.
bool add_event_client(int fd);

// Sends the initial event (mote 0, current time, the mote count, radio model
// and rate) to one socket and waits for its acknowledgement: 0 on success,
// -1 on failure (the socket stays open). The mask does not apply.
int sendInitEvent(int fd);

// The sink of client events (see kernel/client_events.hpp): frames the
// payload with the record length of its type and sends it to every event
// client whose type passes the mask.
void send_event_to_clients(uint16_t mote, uint16_t type, vex_time_t time, const void* payload,
                           std::size_t length);

// Blocks until at least one event client is connected (-gui).
void waitForGuiConnection();

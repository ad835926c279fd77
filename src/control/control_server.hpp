#pragma once
// The control ports: a command port and an event port on the loopback
// address, each served by its own thread. Clients on the event port receive
// the simulation's events; clients on the command port steer it.

#include <cstdint>

#include "control/wire/gui_msg.hpp"

struct ControlSettings {
  uint16_t command_port = ctl::COMMAND_PORT;
  uint16_t event_port = ctl::EVENT_PORT;
  bool gui = false;  // -gui: events wait for a client instead of being dropped
};

// Opens both ports (retrying every 10 seconds while a port is taken), starts
// the event-accept and command-read threads and routes client events to
// them. Call once, with SIGINT blocked, so that the threads never take it.
// The threads stop by themselves when the process exits normally.
void initializeSockets(const ControlSettings& settings = {});

// Blocks until a client is connected to the event port (-gui).
void waitForGuiConnection();

// Stops both threads, closes every socket and stops sending events. Runs at
// exit; safe to call more than once.
void shutdownSockets();

// A listening socket on 127.0.0.1:port with address reuse and a backlog of 1.
int createServerSocket(uint16_t port);

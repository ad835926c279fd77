#pragma once
// The control ports: a command port and an event port on the loopback address.

// Opens both ports and starts their threads.
void initializeSockets();
// Blocks until a client is connected to the event port (-gui).
void waitForGuiConnection();

#include "control/control_server.hpp"

// The ports open with the control protocol; until then no client can connect.
void initializeSockets() {}
void waitForGuiConnection() {}

#pragma once
// Control ports for a simulation of our own, so that it runs beside any
// other (brelo listens for commands on a port P and sends events on P + 1).

#include <cstdint>

namespace brelo_host {

// A pair of ports (p, p + 1) on 127.0.0.1 that nothing listens on just now.
// They are chosen at random below the range the system hands out to
// outgoing connections, so a client's own socket never takes one of them.
uint16_t free_port_pair();

// Whether nothing listens on `port` nor on `port` + 1 just now.
bool port_pair_is_free(uint16_t port);

}  // namespace brelo_host

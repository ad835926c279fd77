#include "lib/ports.hpp"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <random>

namespace brelo_host {
namespace {
bool port_is_free(uint16_t port) {
  int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return false;
  int on = 1;
  ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(port);
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  bool free = ::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
  ::close(fd);
  return free;
}
}  // namespace

bool port_pair_is_free(uint16_t port) {
  return port < 65535 && port_is_free(port) && port_is_free(static_cast<uint16_t>(port + 1));
}

uint16_t free_port_pair() {
  std::mt19937 random(std::random_device{}() ^ static_cast<unsigned>(::getpid()));
  std::uniform_int_distribution<int> pick(20000 / 2, 32000 / 2);
  for (;;) {
    auto port = static_cast<uint16_t>(pick(random) * 2);
    if (port_pair_is_free(port)) return port;
  }
}

}  // namespace brelo_host

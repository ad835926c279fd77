#include "kernel/client_events.hpp"

#include <atomic>

namespace {
std::atomic<ClientEventSink> sink{nullptr};
}  // namespace

void set_client_event_sink(ClientEventSink new_sink) {
  sink.store(new_sink, std::memory_order_release);
}

bool client_events_wanted() { return sink.load(std::memory_order_acquire) != nullptr; }

void sendVarnixEvent(uint16_t mote, uint16_t type, vex_time_t time, const void* payload,
                     std::size_t length) {
  ClientEventSink current = sink.load(std::memory_order_acquire);
  if (current != nullptr) current(mote, type, time, payload, length);
}

#include "kernel/event.hpp"

#include <cstdint>

#include "kernel/dbg.hpp"

namespace {
unsigned address_of(const void* p) {
  return static_cast<unsigned>(reinterpret_cast<uintptr_t>(p));
}
}  // namespace

void event_cleanup(EventPtr event) {
  if (!event) return;
  dbg(DBG_MEM, "event_cleanup: freeing event: 0x%x\n", address_of(event.get()));
  if (event->cleanup == EventCleanup::total) {
    // A typed event holds its data inside itself: both lines name that record.
    dbg(DBG_MEM, "event_total_cleanup: freeing event data: 0x%x\n", address_of(event.get()));
    dbg(DBG_MEM, "event_total_cleanup: freeing event: 0x%x\n", address_of(event.get()));
  } else {
    dbg(DBG_MEM, "event_default_cleanup: freeing event: 0x%x\n", address_of(event.get()));
  }
}

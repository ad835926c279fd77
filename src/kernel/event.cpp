#include "kernel/event.hpp"

#include <atomic>
#include <cstdint>

#include "kernel/dbg.hpp"
#include "kernel/world.hpp"

namespace {
std::atomic<uint32_t> events_made{0};
// A new world numbers its events from 1 again, so that its memory lines do
// not depend on what ran before it in the same process.
const WorldReset restart_labels{[] { events_made.store(0, std::memory_order_relaxed); }};
}  // namespace

event_t::event_t() : label(events_made.fetch_add(1, std::memory_order_relaxed) + 1) {}

void event_cleanup(EventPtr event) {
  if (!event) return;
  dbg(DBG_MEM, "event_cleanup: freeing event: 0x%x\n", memory_label(*event));
  if (event->cleanup == EventCleanup::total) {
    // A typed event holds its data inside itself: both lines name it.
    dbg(DBG_MEM, "event_total_cleanup: freeing event data: 0x%x\n", memory_label(*event));
    dbg(DBG_MEM, "event_total_cleanup: freeing event: 0x%x\n", memory_label(*event));
  } else {
    dbg(DBG_MEM, "event_default_cleanup: freeing event: 0x%x\n", memory_label(*event));
  }
}

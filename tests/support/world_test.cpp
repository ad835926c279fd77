#include "support/world_test.hpp"

#include "kernel/client_events.hpp"
#include "kernel/dbg.hpp"
#include "kernel/mote_lifecycle.hpp"
#include "kernel/world.hpp"

namespace {
// Settings a test may have changed; a world reset leaves them alone.
void quiet_settings() {
  set_app_entry_points({});
  dbg_set(DBG_NONE);
  dbg_suppress_stdout = false;
  set_client_event_sink(nullptr);
}
}  // namespace

void WorldTest::SetUp() {
  reset_world();
  quiet_settings();
}

void WorldTest::TearDown() {
  quiet_settings();
  reset_world();
}

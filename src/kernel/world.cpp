#include "kernel/world.hpp"

#include <algorithm>
#include <vector>

#include "kernel/per_mote.hpp"
#include "kernel/scheduler.hpp"
#include "kernel/vex_state.hpp"

namespace {
std::vector<const WorldReset*>& registry() {
  static std::vector<const WorldReset*> all;
  return all;
}
}  // namespace

WorldReset::WorldReset(Restore restore) : restore_(restore) { registry().push_back(this); }

WorldReset::~WorldReset() {
  auto& all = registry();
  all.erase(std::remove(all.begin(), all.end(), this), all.end());
}

void reset_world(int motes) {
  // The record first: releasing queued events may still reach into the
  // models' tables (a packet in flight unlinks itself from its receiver).
  vex_state.reset();
  VEX_LOCAL_ADDRESS = 1;
  VEX_AM_GROUP = VEX_DEFAULT_AM_GROUP;
  VEXH_sched_init();
  for (const WorldReset* piece : registry()) piece->restore();
  for (int mote = 0; mote < motes && mote < VEXNODES; ++mote) __quil_brelo_initialise(mote);
}

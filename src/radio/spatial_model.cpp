#include "radio/spatial_model.hpp"

#include <cstdlib>

#include "kernel/world.hpp"

std::array<point3D, VEXNODES> points{};

namespace {
spatial_model model;
spatial_model* space = nullptr;

const WorldReset clear_space{[] {
  restore_table(points);
  space = nullptr;
}};

double coordinate() { return static_cast<double>(std::rand() % 1000); }
}  // namespace

void spatial_model::init() { simple_spatial_init(); }

void spatial_model::get_position(int mote, point3D& position) const {
  simple_spatial_get_position(mote, position);
}

spatial_model* create_simple_spatial_model() {
  space = &model;
  return space;
}

void spatial_model_init() {
  if (space != nullptr) space->init();
}

void simple_spatial_init() {
  for (point3D& point : points) {
    point.xCoordinate = coordinate();
    point.yCoordinate = coordinate();
    point.zCoordinate = coordinate();
  }
}

void simple_spatial_get_position(int mote, point3D& position) {
  position = (mote >= 0 && mote < VEXNODES) ? points[mote] : point3D{};
}

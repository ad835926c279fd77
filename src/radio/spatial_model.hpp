#pragma once
// Positions of the motes. The simple spatial model draws an integer position
// from 0 to 999 on each axis for every mote when it is initialised. Nothing
// in the simulator asks for positions yet; the draws still happen, in the
// start-up order, because they advance the C library's random generator.

#include <array>

#include "kernel/vex_types.hpp"

struct point3D {
  double xCoordinate;
  double yCoordinate;
  double zCoordinate;
};

struct spatial_model {
  void init();
  void get_position(int mote, point3D& position) const;
};

extern std::array<point3D, VEXNODES> points;

// Creates the simple spatial model and makes it the one in use.
spatial_model* create_simple_spatial_model();
void spatial_model_init();  // the init of the model in use

void simple_spatial_init();
void simple_spatial_get_position(int mote, point3D& position);

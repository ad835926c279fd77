#include "topology/distance_model.hpp"

namespace topology {

double bit_error_probability(const DistanceModel& model, double distance) {
  if (distance <= model.near) return 0.0;
  if (distance >= model.far) return 1.0;
  double t = (distance - model.near) / (model.far - model.near);
  return t * t * (3.0 - 2.0 * t);
}

}  // namespace topology

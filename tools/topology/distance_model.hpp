#pragma once
// How far apart two motes are decides how many bits their link flips.
//
// Up to the near range a link is perfect; from there the bit-error
// probability rises along a smoothstep curve to 1 at the far range:
//
//   t = (d - near) / (far - near),  p = 3t^2 - 2t^3   for near < d < far
//   p = 0 for d <= near,            p = 1 for d >= far
//
// The curve is flat at both ends, so links just past the near range lose
// little and links just short of the far range are nearly useless. Pairs
// at the far range or beyond get no link at all: the radio flips every bit
// of a link at probability 1, which a receiver would hear as carrier, so
// leaving such pairs out is what keeps distant motes from disturbing each
// other.

namespace topology {

struct DistanceModel {
  double near = 15.0;  // metres: perfect links up to here
  double far = 30.0;   // metres: no link from here on; far > near
};

// The bit-error probability of a link between motes `distance` metres apart.
double bit_error_probability(const DistanceModel& model, double distance);

}  // namespace topology

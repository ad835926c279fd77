#pragma once
// AccelM: powers the two-axis accelerometer. Its readings are taken by the
// stream system straight from ADCM ports 4 (X) and 5 (Y).

#include "kernel/vex_types.hpp"

namespace AccelM {
result_t StdControl_init();
result_t StdControl_start();
result_t StdControl_stop();
}  // namespace AccelM

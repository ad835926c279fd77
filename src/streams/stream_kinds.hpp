#pragma once
// The per-kind halves of the stream system's read, write and close, which
// SSToApp dispatches to by table. Entry numbers are already checked to be
// 0 to 3 when these are called.

#include <cstdint>

#include "kernel/vex_types.hpp"
#include "streams/stream_types.hpp"

namespace SSToAppM {
// Sensor streams.
result_t read_sensor(stream_type desc, uint8_t nbytes);
result_t close_sensor(stream_type desc);

// Remote streams: the source side is written, the destination side read.
int8_t write_remote_source(stream_type desc, const int8_t* buf, uint8_t nbytes);
result_t read_remote_destination(stream_type desc, uint8_t nbytes);
result_t close_remote_source(stream_type desc);
result_t close_remote_destination(stream_type desc);
}  // namespace SSToAppM

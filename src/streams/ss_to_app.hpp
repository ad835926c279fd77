#pragma once
// The stream system of a mote: the four descriptor tables (local, sensor,
// and both sides of remote streams), the operations the application opens,
// reads, writes and closes streams with, and the mote-wide timestamp and
// epoch counters stamped into sensor records.
//
// Completions go up to the application synchronously: readDone runs inside
// the read, write or reception that made a record available.

#include <array>
#include <cstdint>
#include <memory>
#include <vector>

#include "kernel/vex_types.hpp"
#include "streams/stream_ring.hpp"
#include "streams/stream_types.hpp"

struct LSDT_Entry : StreamRing {
  uint8_t validity;  // 1: open
};

struct SSDT_Entry : StreamRing {
  uint8_t sensor_tid;  // 0: free entry
  uint32_t stream_rate;
  uint8_t sampling_type;
};

struct DRSDT_Entry : StreamRing {
  uint8_t symbolic_name;  // 0: free entry
  // One slot per source mote; hosts plan against the same limit.
  std::array<int32_t, protocol::REMOTE_SOURCES> channel_id;
  std::array<uint32_t, protocol::REMOTE_SOURCES> stream_rate;
  uint8_t src_validity;
  uint8_t reliability;
  uint8_t src_counter;
};

// The source slots are walked with the table's entry count.
static_assert(protocol::REMOTE_SOURCES == STREAM_ENTRIES);

struct SRSDT_Entry {
  int32_t channel_id;
  uint8_t symbolic_name;  // 0: free entry
  uint8_t current_cursor;
  uint8_t buffer_size;
  std::vector<std::unique_ptr<int8_t[]>> buffer;  // copy ring for reliable streams
};

namespace SSToAppM {
struct Vars {
  std::array<SRSDT_Entry, STREAM_ENTRIES> src_remote_table;
  std::array<DRSDT_Entry, STREAM_ENTRIES> dest_remote_table;
  std::array<LSDT_Entry, STREAM_ENTRIES> local_table;
  std::array<SSDT_Entry, STREAM_ENTRIES> sensor_table;
  uint16_t timestamp_rate;
  uint16_t epoch_rate;
  uint16_t timestamp;
  uint16_t epotime;
};
Vars& vars();
Vars& vars_of(int mote);

// The application's side of the interface.
struct Application {
  result_t (*readDone)(stream_type desc, int8_t* buf, uint8_t nbytes, result_t success) = nullptr;
  result_t (*openRemoteDone)(stream_type desc, uint8_t symbolic_name, result_t success) = nullptr;
};
void set_application(const Application& application);
result_t signal_readDone(stream_type desc, int8_t* buf, uint8_t nbytes);
result_t signal_openRemoteDone(stream_type desc, uint8_t symbolic_name, result_t success);

result_t StdControl_init();
result_t StdControl_start();
result_t StdControl_stop();

stream_type SSToApp_open_l(uint8_t buffer_size);
stream_type SSToApp_open_s(uint8_t sensor_tid, uint32_t stream_rate, uint8_t buffer_size,
                           uint8_t sampling_type);
// Completes later with the application's openRemoteDone.
result_t SSToApp_open_r(uint8_t symbolic_name, uint32_t stream_rate, vex_time_t start_time,
                        uint8_t reliability, uint8_t buffer_size, uint16_t dest);
result_t SSToApp_read(stream_type stream_desc, uint8_t nbytes);
int8_t SSToApp_write(stream_type stream_desc, const int8_t* buf, uint8_t nbytes);
result_t SSToApp_close(stream_type stream_desc);
// Closes the remote stream this mote opened under `symbolic_name` towards
// `dest` (the mote itself for the reading side) before its open completed,
// when the application holds no descriptor for it yet.
result_t SSToApp_close_r(uint8_t symbolic_name, uint16_t dest);

result_t TimerStamp_fired();
result_t TimerEpoch_fired();

// The longest record write accepts: its length is reported as int8_t, and a
// longer one would read like an error value.
constexpr uint8_t MAX_RECORD_WRITE = 127;
}  // namespace SSToAppM

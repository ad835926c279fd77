// Fuzzes the lossy connectivity file: the input is the file's text. The
// parser reads entries from it, the lossy model is built from it as at
// start-up, and a few bits travel over the links it made.

#include <sys/mman.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "kernel/dbg.hpp"
#include "kernel/vex_state.hpp"
#include "radio/connectivity.hpp"

namespace {
constexpr int kMotes = 8;

// The file the model opens: an anonymous memory file holding the input.
int memory_file = -1;
std::string memory_file_name;
}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  memory_file = ::memfd_create("lossy", MFD_CLOEXEC);
  if (memory_file < 0) std::abort();
  memory_file_name = "/proc/self/fd/" + std::to_string(memory_file);
  dbg_set(DBG_NONE);
  dbg_suppress_stdout = true;
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
  // The parser alone, on the input as a stream.
  std::FILE* stream = ::fmemopen(const_cast<uint8_t*>(data), size, "r");
  if (size > 0 && stream != nullptr) {
    read_lossy_entries(stream);
    std::fclose(stream);
  }

  // The model built from it, as the driver builds it.
  if (::ftruncate(memory_file, 0) != 0 || ::pwrite(memory_file, data, size, 0) != ssize_t(size)) {
    std::abort();
  }
  vex_state.num_nodes = kMotes;
  create_radio_model(VARNIX_RADIO_MODEL_LOSSY, memory_file_name.c_str());
  radio_model_init();
  for (int mote = 0; mote < kMotes; ++mote) {
    rfm->transmit(mote, static_cast<uint8_t>(mote & 1));
    for (link_t* link = rfm->neighbors(mote); link != nullptr; link = link->next_link) {
      rfm->hears(link->mote);
    }
    for (int other = 0; other < kMotes; ++other) rfm->connected(mote, other);
    rfm->stop_transmit(mote);
  }
  return 0;
}

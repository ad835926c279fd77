#include "control/variable_access.hpp"

#include <algorithm>
#include <condition_variable>
#include <cstring>
#include <mutex>
#include <vector>

#include "control/variable_table.hpp"
#include "kernel/sim_requests.hpp"
#include "kernel/vex_types.hpp"
#include "kernel/world.hpp"
#include "radio/bulk_receive.hpp"
#include "radio/channel_mon_c.hpp"

namespace {
constexpr uint32_t address_base = 0x40000000;

// Where each row's range starts in the address space.
const std::vector<uint32_t>& row_starts() {
  static const std::vector<uint32_t> starts = [] {
    std::vector<uint32_t> s;
    uint32_t next = address_base;
    for (const VariableRow& row : variable_table()) {
      s.push_back(next);
      next += row.size * VEXNODES;
    }
    s.push_back(next);
    return s;
  }();
  return starts;
}

struct Place {
  std::size_t row;
  int mote;
  uint32_t offset;
};

bool locate(uint32_t addr, Place* place) {
  const auto& starts = row_starts();
  if (addr < starts.front() || addr >= starts.back()) return false;
  auto it = std::upper_bound(starts.begin(), starts.end(), addr);
  std::size_t row = static_cast<std::size_t>(it - starts.begin()) - 1;
  uint32_t size = variable_table()[row].size;
  uint32_t inside = addr - starts[row];
  *place = {row, static_cast<int>(inside / size), inside % size};
  return true;
}

// A read waiting for the simulation thread; it lives on the reader's stack
// and is in `waiting` only while the reader waits for it.
struct Read {
  Place place;
  uint32_t length;
  uint8_t* out;
  bool done = false;
};

std::mutex box;
std::condition_variable served;
std::vector<Read*> waiting;  // reads the simulation thread has yet to serve
bool closed = false;
std::chrono::milliseconds read_wait{2000};

// Simulation thread: the read's bytes from the mote's current state.
void fill(const Read& read, std::vector<uint8_t>& image) {
  const VariableRow& row = variable_table()[read.place.row];
  image.assign(row.size, 0);
  row.encode(read.place.mote, image.data());
  for (uint32_t i = 0; i < read.length; ++i) {
    uint32_t at = read.place.offset + i;
    read.out[i] = at < image.size() ? image[at] : 0;
  }
}

}  // namespace

int __quil_brelo_resolve(uint16_t mote, const char* name, uint32_t* addr, uint32_t* length) {
  if (name == nullptr || mote >= VEXNODES) return -1;
  auto table = variable_table();
  for (std::size_t i = 0; i < table.size(); ++i) {
    if (std::strcmp(table[i].name, name) == 0) {
      *addr = row_starts()[i] + table[i].size * mote;
      *length = table[i].size;
      return 0;
    }
  }
  return -1;
}

void variable_access_serve() {
  std::lock_guard<std::mutex> lock(box);
  if (waiting.empty()) return;
  ChannelMonSleep::catch_up_all();  // sleeping monitors show their registers as of now
  BulkReceive::settle_all();         // and receivers stepping by the byte their bits
  std::vector<uint8_t> image;
  for (Read* read : waiting) {
    fill(*read, image);
    read->done = true;
  }
  waiting.clear();
  served.notify_all();
}

VariableRead brelo_read_variable(uint32_t addr, uint32_t length, uint8_t* out) {
  Place place{};
  if (!locate(addr, &place)) return VariableRead::no_such_address;
  Read read{place, length, out};
  {
    std::unique_lock<std::mutex> lock(box);
    if (closed) return VariableRead::not_served;
    waiting.push_back(&read);
  }
  sim_requests::post();
  std::unique_lock<std::mutex> lock(box);
  if (served.wait_for(lock, read_wait, [&] { return read.done || closed; }) && read.done) {
    return VariableRead::read;
  }
  waiting.erase(std::find(waiting.begin(), waiting.end(), &read));
  return VariableRead::not_served;
}

void variable_access_close() {
  {
    std::lock_guard<std::mutex> lock(box);
    closed = true;
  }
  served.notify_all();
}

void variable_access_open() {
  std::lock_guard<std::mutex> lock(box);
  closed = false;
}

namespace {
// A fresh world takes reads again (ports shut down in an earlier one closed them).
const WorldReset reopen_reads{variable_access_open};
}  // namespace

void set_variable_read_wait(std::chrono::milliseconds wait) {
  std::lock_guard<std::mutex> lock(box);
  read_wait = wait;
}

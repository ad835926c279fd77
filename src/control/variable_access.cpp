#include "control/variable_access.hpp"

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <cstring>
#include <map>
#include <mutex>
#include <vector>

#include "control/variable_table.hpp"
#include "kernel/vex_types.hpp"
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

struct Read {
  std::size_t row;
  int mote;
  std::vector<uint8_t> image;
  bool done = false;
};

std::mutex box;
std::condition_variable served;
std::vector<Read*> waiting;              // reads the simulation thread has yet to serve
std::atomic<bool> reads_waiting{false};  // waiting is not empty
std::map<std::pair<std::size_t, int>, std::vector<uint8_t>> last_image;
std::vector<std::pair<std::size_t, int>> refresh;  // images to renew at the next service
std::chrono::milliseconds read_wait{20};

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
  if (!reads_waiting.load(std::memory_order_acquire)) return;
  ChannelMonSleep::catch_up_all();  // sleeping monitors show their registers as of now
  std::lock_guard<std::mutex> lock(box);
  auto table = variable_table();
  for (Read* read : waiting) {
    read->image.assign(table[read->row].size, 0);
    table[read->row].encode(read->mote, read->image.data());
    read->done = true;
    last_image[{read->row, read->mote}] = read->image;
  }
  for (const auto& key : refresh) {
    std::vector<uint8_t>& image = last_image[key];
    image.assign(table[key.first].size, 0);
    table[key.first].encode(key.second, image.data());
  }
  waiting.clear();
  refresh.clear();
  reads_waiting.store(false, std::memory_order_release);
  served.notify_all();
}

bool brelo_read_variable(uint32_t addr, uint32_t length, uint8_t* out) {
  Place place{};
  if (!locate(addr, &place)) return false;
  Read read{place.row, place.mote, {}};
  std::unique_lock<std::mutex> lock(box);
  waiting.push_back(&read);
  reads_waiting.store(true, std::memory_order_release);
  const std::vector<uint8_t>* image = &read.image;
  if (!served.wait_for(lock, read_wait, [&] { return read.done; })) {
    // Not served in time: answer from the last image and have it renewed.
    waiting.erase(std::find(waiting.begin(), waiting.end(), &read));
    std::pair<std::size_t, int> key{place.row, place.mote};
    if (std::find(refresh.begin(), refresh.end(), key) == refresh.end()) refresh.push_back(key);
    reads_waiting.store(true, std::memory_order_release);
    auto it = last_image.find(key);
    static const std::vector<uint8_t> none;
    image = it != last_image.end() ? &it->second : &none;
  }
  for (uint32_t i = 0; i < length; ++i) {
    uint32_t at = place.offset + i;
    out[i] = at < image->size() ? (*image)[at] : 0;
  }
  return true;
}

void set_variable_read_wait(std::chrono::milliseconds wait) {
  std::lock_guard<std::mutex> lock(box);
  read_wait = wait;
}

// The practical limit of a simulator built on one binary heap: a bare heap
// (the same slot layout and sift rules as the event queue, no lock, no
// dispatch) driven by the pattern of an idle network. Each of `motes`
// periodic events fires every 200 ticks, mote m first at tick m + 200, and
// its handler only re-arms it; `dormant` further events wait beyond the end
// of the run, so the heap holds as many events as the simulator's does.
//
// Usage: reference_loop MOTES VIRTUAL_SECONDS [PENDING]
// Prints: events <n> seconds <cpu> events_per_second <rate>, over the CPU
// time of the loop (the machine may be shared).

#include <time.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <utility>
#include <vector>

namespace {
constexpr int64_t kTicksPerSecond = 4000000;
constexpr int64_t kPeriod = 200;

struct Event {
  int64_t time;
  int mote;
};

struct Slot {
  Event* data;
  int64_t key;
};

double cpu_seconds() {
  timespec now{};
  clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &now);
  return static_cast<double>(now.tv_sec) + now.tv_nsec / 1e9;
}

class BareHeap {
 public:
  explicit BareHeap(std::size_t capacity) { slots_.reserve(capacity); }

  void insert(Event* event) {
    slots_.push_back(Slot{event, event->time});
    std::size_t i = slots_.size() - 1;
    while (i > 0) {
      std::size_t parent = (i - 1) / 2;
      if (slots_[parent].key <= slots_[i].key) break;
      std::swap(slots_[parent], slots_[i]);
      i = parent;
    }
  }

  Event* pop(int64_t* key) {
    Event* min = slots_[0].data;
    *key = slots_[0].key;
    slots_[0] = slots_.back();
    slots_.pop_back();
    const std::size_t size = slots_.size();
    std::size_t i = 0;
    for (;;) {
      std::size_t left = 2 * i + 1;
      std::size_t right = left + 1;
      if (right < size) {
        std::size_t child = slots_[left].key < slots_[right].key ? left : right;
        if (slots_[child].key >= slots_[i].key) break;
        std::swap(slots_[child], slots_[i]);
        i = child;
      } else {
        if (left < size && slots_[left].key < slots_[i].key) std::swap(slots_[left], slots_[i]);
        break;
      }
    }
    return min;
  }

 private:
  std::vector<Slot> slots_;
};
}  // namespace

int main(int argc, char** argv) {
  if (argc < 3) {
    std::fprintf(stderr, "usage: %s MOTES VIRTUAL_SECONDS [PENDING]\n", argv[0]);
    return 2;
  }
  const int motes = std::atoi(argv[1]);
  const double seconds = std::atof(argv[2]);
  const int pending = argc > 3 ? std::atoi(argv[3]) : motes;
  if (motes < 1 || !(seconds > 0) || pending < motes) {
    std::fprintf(stderr, "%s: need MOTES >= 1, VIRTUAL_SECONDS > 0, PENDING >= MOTES\n", argv[0]);
    return 2;
  }
  const int64_t stop = static_cast<int64_t>(seconds * kTicksPerSecond);

  std::vector<Event> events(static_cast<std::size_t>(pending));
  BareHeap heap(events.size());
  for (int i = 0; i < pending; ++i) {
    events[i].mote = i;
    events[i].time = i < motes ? i + kPeriod : stop + 1 + i;
    heap.insert(&events[i]);
  }

  uint64_t handled = 0;
  int64_t now = 0;
  uint64_t checksum = 0;
  const double start = cpu_seconds();
  while (now < stop) {
    Event* event = heap.pop(&now);
    ++handled;
    checksum += static_cast<uint64_t>(event->mote);  // the trivial handler's work
    event->time += kPeriod;
    heap.insert(event);
  }
  const double cpu = cpu_seconds() - start;
  std::printf("events %llu seconds %.6f events_per_second %.0f checksum %llu\n",
              static_cast<unsigned long long>(handled), cpu, handled / cpu,
              static_cast<unsigned long long>(checksum));
  return 0;
}

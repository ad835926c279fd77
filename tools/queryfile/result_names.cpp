#include "queryfile/result_names.hpp"

#include <algorithm>

namespace query_file {
namespace {

// When a message of the plan took effect; -1 while not known.
int64_t taken_effect(const Plan& plan, const std::vector<int64_t>& times, int message) {
  if (message < 0) return -1;
  const auto i = static_cast<std::size_t>(message);
  if (times.empty()) return plan.messages[i].time;
  return i < times.size() ? times[i] : -1;
}

// Whether a serial output could have sent a result at `time`.
bool running(const Plan& plan, const std::vector<int64_t>& times, const ResultLayout& r,
             int64_t time) {
  const int64_t start = r.start_message < 0 ? r.from : taken_effect(plan, times, r.start_message);
  if (start < 0 || start > time) return false;
  const int64_t stop = taken_effect(plan, times, r.stop_message);
  // A result on the very tick of the stop may still be the query's.
  return stop < 0 || stop >= time;
}

// Whether a record of this kind may hold `data`: its mote field, where it
// has one, names a mote that starts such records.
bool could_be(const RecordShape& shape, std::span<const uint8_t> data) {
  auto mote = std::find(shape.layout.begin(), shape.layout.end(), "mote");
  if (mote == shape.layout.end()) return true;
  const auto f = static_cast<std::size_t>(mote - shape.layout.begin());
  if (2 * f + 1 >= data.size()) return true;
  const auto value = static_cast<uint16_t>(data[2 * f] << 8 | data[2 * f + 1]);
  return shape.motes.count(value) != 0;
}
}  // namespace

Layout result_names(const Plan& plan, const std::vector<int64_t>& message_times,
                    std::span<const uint8_t> data, int64_t time) {
  std::vector<const RecordShape*> candidates;
  for (const ResultLayout& r : plan.results) {
    if (!running(plan, message_times, r, time)) continue;
    for (const RecordShape& s : r.shapes) candidates.push_back(&s);
  }
  // No output known to run then: any of them may have sent it.
  if (candidates.empty()) {
    for (const ResultLayout& r : plan.results) {
      for (const RecordShape& s : r.shapes) candidates.push_back(&s);
    }
  }
  std::vector<const Layout*> fitting;
  for (const RecordShape* s : candidates) {
    if (could_be(*s, data)) fitting.push_back(&s->layout);
  }
  // A mote field that fits none says nothing of the rest.
  if (fitting.empty()) {
    for (const RecordShape* s : candidates) fitting.push_back(&s->layout);
  }
  return common_layout(fitting);
}

}  // namespace query_file

#include "ctl/delivery_report.hpp"

#include <algorithm>
#include <cstdio>

#include "lib/json.hpp"

namespace brelo_ctl {
namespace {
using query_file::Delivery;

// When plan message `index` took effect: seen leaving mote 0, or planned.
int64_t message_time(const query_file::Plan& plan, const std::vector<int64_t>& times, int index) {
  if (index < 0) return -1;
  const auto i = static_cast<std::size_t>(index);
  if (i < times.size() && times[i] >= 0) return times[i];
  return plan.messages[i].time;
}

std::string cell(const std::optional<int64_t>& n) { return n ? std::to_string(*n) : "-"; }
}  // namespace

void DeliveryCount::add(const query_file::Result& result) {
  if (result.mote) {
    ++received_[*result.mote];
  } else {
    ++without_mote_;
  }
}

std::vector<Delivery> DeliveryCount::summary(const std::vector<query_file::Source>& sources,
                                             const query_file::Plan& plan,
                                             const std::vector<int64_t>& message_times,
                                             int64_t end) const {
  std::map<uint16_t, Delivery> per_mote;
  for (const query_file::Source& s : sources) {
    auto [entry, first] = per_mote.try_emplace(s.mote, Delivery{s.mote, int64_t{0}, std::nullopt});
    Delivery& d = entry->second;
    if (!s.countable) d.expected.reset();
    if (!d.expected) continue;
    const int64_t start = message_time(plan, message_times, s.start_message);
    int64_t stop = end;
    if (s.stop_message >= 0) stop = std::min(stop, message_time(plan, message_times, s.stop_message));
    *d.expected += start < 0 ? 0 : query_file::expected_records(s, start, stop);
  }
  int64_t all = without_mote_;
  for (const auto& [mote, count] : received_) all += count;
  std::vector<Delivery> list;
  for (auto& [mote, d] : per_mote) {
    if (per_mote.size() == 1) {
      d.received = all;  // one source: every result is its own
    } else if (without_mote_ == 0) {
      // Results without a mote field could not be told apart.
      auto found = received_.find(mote);
      d.received = found == received_.end() ? 0 : found->second;
    }
    list.push_back(d);
  }
  return list;
}

void print_delivery_table(const std::vector<Delivery>& deliveries, std::ostream& err) {
  if (deliveries.empty()) return;
  err << "delivery per source mote (expected: one record per sampling period while its query ran)\n"
      << "  mote  expected  received  ratio\n";
  for (const Delivery& d : deliveries) {
    char ratio[16] = "-";
    if (auto r = d.ratio()) std::snprintf(ratio, sizeof ratio, "%.2f", *r);
    char line[80];
    std::snprintf(line, sizeof line, "%6u  %8s  %8s  %5s\n", d.mote, cell(d.expected).c_str(),
                  cell(d.received).c_str(), ratio);
    err << line;
  }
}

std::string delivery_json(const std::vector<Delivery>& deliveries) {
  std::string list = "[";
  for (const Delivery& d : deliveries) {
    if (list.size() > 1) list += ',';
    char ratio[32] = "null";
    if (auto r = d.ratio()) std::snprintf(ratio, sizeof ratio, "%.4f", *r);
    list += brelo_host::JsonObject()
                .raw("mote", std::to_string(d.mote))
                .raw("expected", d.expected ? std::to_string(*d.expected) : "null")
                .raw("received", d.received ? std::to_string(*d.received) : "null")
                .raw("ratio", ratio)
                .str();
  }
  return brelo_host::JsonObject().raw("delivery", list + "]").str();
}

}  // namespace brelo_ctl

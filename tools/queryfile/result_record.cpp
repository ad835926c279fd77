#include "queryfile/result_record.hpp"

namespace query_file {
namespace {
constexpr std::size_t FIELDS = 10;
}  // namespace

Result decode_result(std::span<const uint8_t> data, const Layout* layout, int64_t time) {
  Result r;
  r.time = time;
  std::vector<uint16_t> values;
  for (std::size_t f = 0; f < FIELDS && 2 * f + 1 < data.size(); ++f) {
    values.push_back(static_cast<uint16_t>(data[2 * f] << 8 | data[2 * f + 1]));
  }
  Layout names;
  if (layout != nullptr && !layout->empty()) {
    names = *layout;
    names.resize(std::min(names.size(), values.size()));
  } else {
    std::size_t used = values.size();
    while (used > 1 && values[used - 1] == 0) --used;
    for (std::size_t f = 0; f < used; ++f) names.push_back("field" + std::to_string(f));
  }
  for (std::size_t f = 0; f < names.size(); ++f) {
    const std::string& name = names[f];
    if (name == "mote" && !r.mote) {
      r.mote = values[f];
    } else if (name == "timestamp" && !r.timestamp) {
      r.timestamp = values[f];
    } else if (name == "epoch" && !r.epoch) {
      r.epoch = values[f];
    } else {
      r.fields.emplace_back(name, values[f]);
    }
  }
  return r;
}

}  // namespace query_file

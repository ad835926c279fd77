#include "query/result_record.hpp"

#include <cstdio>

namespace query_file {
namespace {
constexpr std::size_t FIELDS = 10;

std::string seconds(int64_t ticks) {
  char text[32];
  std::snprintf(text, sizeof text, "%.3f", static_cast<double>(ticks) / TICKS_PER_SECOND);
  return text;
}
std::string or_dash(const std::optional<uint16_t>& v, const char* none) {
  return v ? std::to_string(*v) : none;
}
std::string json_text(const std::string& s) {
  std::string out = "\"";
  for (char c : s) {
    if (c == '"' || c == '\\') out += '\\';
    out += c;
  }
  return out + "\"";
}
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

std::string ResultWriter::lines(const Result& r) {
  std::string out;
  switch (format_) {
    case ResultFormat::table: {
      if (!header_written_) {
        out += "    time  mote  timestamp  epoch  fields\n";
        header_written_ = true;
      }
      char head[80];
      std::snprintf(head, sizeof head, "%8s  %4s  %9s  %5s ", seconds(r.time).c_str(),
                    or_dash(r.mote, "-").c_str(), or_dash(r.timestamp, "-").c_str(),
                    or_dash(r.epoch, "-").c_str());
      out += head;
      for (const auto& [name, value] : r.fields) out += " " + name + "=" + std::to_string(value);
      out += "\n";
      break;
    }
    case ResultFormat::csv: {
      std::vector<std::string> columns;
      for (const auto& field : r.fields) columns.push_back(field.first);
      if (!header_written_ || columns != csv_columns_) {
        out += "time,mote,timestamp,epoch";
        for (const std::string& c : columns) out += "," + c;
        out += "\n";
        header_written_ = true;
        csv_columns_ = columns;
      }
      out += seconds(r.time) + "," + or_dash(r.mote, "") + "," + or_dash(r.timestamp, "") + "," +
             or_dash(r.epoch, "");
      for (const auto& field : r.fields) out += "," + std::to_string(field.second);
      out += "\n";
      break;
    }
    case ResultFormat::json: {
      out += "{\"time\":" + seconds(r.time) + ",\"mote\":" + or_dash(r.mote, "null") +
             ",\"timestamp\":" + or_dash(r.timestamp, "null") +
             ",\"epoch\":" + or_dash(r.epoch, "null") + ",\"fields\":{";
      bool first = true;
      for (const auto& [name, value] : r.fields) {
        out += (first ? "" : ",") + json_text(name) + ":" + std::to_string(value);
        first = false;
      }
      out += "}}\n";
      break;
    }
  }
  return out;
}

}  // namespace query_file

#include "lib/result_sinks.hpp"

#include <cstdio>
#include <optional>

#include "lib/json.hpp"

namespace brelo_host {
namespace {
std::string seconds(int64_t ticks) {
  char text[32];
  std::snprintf(text, sizeof text, "%.3f", static_cast<double>(ticks) / TICKS_PER_SECOND);
  return text;
}

std::string or_else(const std::optional<uint16_t>& value, const char* none) {
  return value ? std::to_string(*value) : none;
}
}  // namespace

std::string TableSink::lines(const Result& r) {
  std::string out;
  if (!header_written_) {
    out += "    time  mote  timestamp  epoch  fields\n";
    header_written_ = true;
  }
  char head[80];
  std::snprintf(head, sizeof head, "%8s  %4s  %9s  %5s ", seconds(r.time).c_str(),
                or_else(r.mote, "-").c_str(), or_else(r.timestamp, "-").c_str(),
                or_else(r.epoch, "-").c_str());
  out += head;
  for (const auto& [name, value] : r.fields) out += " " + name + "=" + std::to_string(value);
  return out + "\n";
}

std::string CsvSink::lines(const Result& r) {
  std::string out;
  std::vector<std::string> columns;
  for (const auto& field : r.fields) columns.push_back(field.first);
  if (!header_written_ || columns != columns_) {
    out += "time,mote,timestamp,epoch";
    for (const std::string& c : columns) out += "," + c;
    out += "\n";
    header_written_ = true;
    columns_ = columns;
  }
  out += seconds(r.time) + "," + or_else(r.mote, "") + "," + or_else(r.timestamp, "") + "," +
         or_else(r.epoch, "");
  for (const auto& field : r.fields) out += "," + std::to_string(field.second);
  return out + "\n";
}

std::string JsonLinesSink::lines(const Result& r) {
  JsonObject fields;
  for (const auto& [name, value] : r.fields) fields.raw(name, std::to_string(value));
  return JsonObject()
             .raw("time", seconds(r.time))
             .raw("mote", or_else(r.mote, "null"))
             .raw("timestamp", or_else(r.timestamp, "null"))
             .raw("epoch", or_else(r.epoch, "null"))
             .raw("fields", fields.str())
             .str() +
         "\n";
}

std::unique_ptr<ResultSink> make_result_sink(ResultFormat format, std::ostream& out) {
  switch (format) {
    case ResultFormat::csv: return std::make_unique<CsvSink>(out);
    case ResultFormat::json: return std::make_unique<JsonLinesSink>(out);
    case ResultFormat::table: break;
  }
  return std::make_unique<TableSink>(out);
}

}  // namespace brelo_host

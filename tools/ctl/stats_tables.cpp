#include "ctl/stats_tables.hpp"

#include <cstdio>
#include <fstream>
#include <sstream>

namespace brelo_ctl {
namespace {
using brelo_host::JsonValue;

std::string formatted(const char* format, double value) {
  char text[64];
  std::snprintf(text, sizeof text, format, value);
  return text;
}

const JsonValue* member(const JsonValue& object, const char* key, JsonValue::Kind kind) {
  const JsonValue* value = object.find(key);
  return value != nullptr && value->kind == kind ? value : nullptr;
}

const JsonValue& motes_of(const JsonValue& stats) { return *stats.find("motes"); }
}  // namespace

std::optional<JsonValue> read_statistics(const std::string& path, std::string& why) {
  std::ifstream in(path);
  if (!in) {
    why = "cannot read " + path;
    return std::nullopt;
  }
  std::stringstream text;
  text << in.rdbuf();
  std::optional<JsonValue> stats = brelo_host::parse_json(text.str(), why);
  if (!stats) {
    why = path + ": " + why;
    return std::nullopt;
  }
  if (stats->kind != JsonValue::Kind::object || !member(*stats, "run", JsonValue::Kind::object) ||
      !member(*stats, "motes", JsonValue::Kind::array) ||
      !member(*stats, "energy_figures", JsonValue::Kind::object)) {
    why = path + ": not a statistics file (no run, motes and energy_figures)";
    return std::nullopt;
  }
  return stats;
}

void print_statistics_table(const JsonValue& stats, std::ostream& out) {
  struct Column {
    const char* head;
    const char* key;
  };
  static const Column columns[] = {
      {"sent", "packets_sent"},
      {"received", "packets_received"},
      {"crc_failed", "packets_crc_failed"},
      {"acked", "packets_acknowledged"},
      {"serial_out", "serial_sent"},
      {"serial_in", "serial_received"},
      {"written", "records_written"},
      {"read", "records_read"},
      {"results", "results"},
  };
  out << "mote";
  for (const Column& c : columns) {
    char head[16];
    std::snprintf(head, sizeof head, " %10s", c.head);
    out << head;
  }
  out << "  on_seconds\n";
  for (const JsonValue& mote : motes_of(stats).items) {
    out << formatted("%4.0f", mote.number_at("mote"));
    for (const Column& c : columns) out << formatted(" %10.0f", mote.number_at(c.key));
    out << formatted("  %10.3f", mote.number_at("on_seconds")) << "\n";
  }
  const JsonValue& run = *stats.find("run");
  out << formatted("%.0f motes", run.number_at("motes"))
      << formatted(", %.3f virtual seconds", run.number_at("virtual_seconds"))
      << formatted(", %.0f events", run.number_at("events"))
      << formatted(", %.3f wall seconds", run.number_at("wall_seconds")) << "\n";
}

void print_energy_table(const JsonValue& stats, std::ostream& out) {
  const JsonValue& figures = *stats.find("energy_figures");
  out << "energy in mJ at " << formatted("%g V", figures.number_at("supply_V"))
      << formatted(": processor %g mA", figures.number_at("cpu_mA"))
      << formatted(", radio receive %g", figures.number_at("radio_receive_mA"))
      << formatted(" / transmit %g", figures.number_at("radio_transmit_mA"))
      << formatted(" / sleep %g mA", figures.number_at("radio_sleep_mA"))
      << formatted(", LED %g mA each", figures.number_at("led_mA"))
      << formatted(", ADC %g mA", figures.number_at("adc_mA")) << "\n";
  out << "mote   processor  radio_rx   radio_tx   radio_sleep  leds       adc        total\n";
  for (const JsonValue& mote : motes_of(stats).items) {
    const JsonValue* energy = member(mote, "energy_mJ", JsonValue::Kind::object);
    if (energy == nullptr) continue;
    const double leds = energy->number_at("led_red") + energy->number_at("led_green") +
                        energy->number_at("led_yellow");
    out << formatted("%4.0f", mote.number_at("mote"))
        << formatted("   %-10.3f", energy->number_at("cpu"))
        << formatted(" %-10.3f", energy->number_at("radio_receive"))
        << formatted(" %-10.3f", energy->number_at("radio_transmit"))
        << formatted(" %-12.3f", energy->number_at("radio_sleep"))
        << formatted(" %-10.3f", leds) << formatted(" %-10.3f", energy->number_at("adc"))
        << formatted(" %.3f", energy->number_at("total")) << "\n";
  }
}

}  // namespace brelo_ctl

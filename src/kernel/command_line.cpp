#include "kernel/command_line.hpp"

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <string_view>

int atoi_clamped(const char* text) {
  errno = 0;
  long value = std::strtol(text, nullptr, 10);
  if (value > INT_MAX) return INT_MAX;
  if (value < INT_MIN) return INT_MIN;
  return static_cast<int>(value);
}

namespace {
// The value of an option "<prefix><value>", or nullopt when arg has another prefix.
std::optional<std::string> value_after(std::string_view arg, std::string_view prefix) {
  if (!arg.starts_with(prefix)) return std::nullopt;
  return std::string(arg.substr(prefix.size()));
}
}  // namespace

ParsedCommandLine parse_command_line(const std::vector<std::string>& args) {
  ParsedCommandLine parsed;
  SimOptions& o = parsed.options;
  auto fail = [&parsed](CommandLineError error, std::string text = {}) {
    parsed.error = error;
    parsed.error_text = std::move(text);
    return parsed;
  };

  for (std::size_t i = 0; i + 1 < args.size(); ++i) {
    std::string_view arg = args[i];
    if (arg == "-h" || arg == "--help") return fail(CommandLineError::help);
    if (arg == "-gui") {
      o.gui = true;
    } else if (arg == "-nodbgout") {
      o.nodbgout = true;
    } else if (arg == "-fast") {
      o.fast = true;
    } else if (auto v = value_after(arg, "-a=")) {
      o.adc_model = *v;
    } else if (auto v = value_after(arg, "-b=")) {
      o.boot_window = atoi_clamped(v->c_str());
      if (o.boot_window < 0) return fail(CommandLineError::bad_boot_window, *v);
    } else if (auto v = value_after(arg, "-ef=")) {
      o.eeprom_file = *v;
    } else if (auto v = value_after(arg, "-l=")) {
      o.rate_text = *v;
    } else if (auto v = value_after(arg, "-r=")) {
      o.radio_model = *v;
    } else if (auto v = value_after(arg, "-rf=")) {
      o.lossy_file = *v;
      o.radio_model = "lossy";
    } else if (auto v = value_after(arg, "-s=")) {
      o.motes_to_boot = atoi_clamped(v->c_str());
    } else if (auto v = value_after(arg, "-t=")) {
      o.stop_time = static_cast<vex_time_t>(atoi_clamped(v->c_str())) * TICKS_PER_SECOND;
    } else if (auto v = value_after(arg, "-seed=")) {
      o.seed = atoi_clamped(v->c_str());
    } else if (auto v = value_after(arg, "-port=")) {
      o.control_port = atoi_clamped(v->c_str());
      if (o.control_port < 1 || o.control_port > 65534) return fail(CommandLineError::bad_port, *v);
    } else if (auto v = value_after(arg, "-stats=")) {
      o.stats_file = *v;
    } else if (auto v = value_after(arg, "-energy=")) {
      o.energy_file = *v;
    } else if (auto v = value_after(arg, "-trace=")) {
      o.trace_file = *v;
    } else if (arg == "-p") {
      o.power_profiling = true;
    } else if (arg == "-cpuprof") {
      o.cpu_profiling = true;
    } else {
      return fail(CommandLineError::usage);
    }
  }

  o.rate = std::atof(o.rate_text.c_str());
  // Written as a negation so that a rate of "nan" is refused too.
  if (!(o.rate > 0)) return fail(CommandLineError::bad_rate, o.rate_text);

  o.num_nodes = atoi_clamped(args.back().c_str());
  if (o.num_nodes < 1) return fail(CommandLineError::usage);
  if (o.motes_to_boot < 0 || o.motes_to_boot > o.num_nodes) o.motes_to_boot = o.num_nodes;
  return parsed;
}

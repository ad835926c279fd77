#include "app/run_report.hpp"

#include <chrono>
#include <cstdio>

#include "kernel/power_ledger.hpp"
#include "kernel/run_stats.hpp"
#include "kernel/vex_state.hpp"

namespace run_report {
namespace {
std::FILE* report_file = nullptr;
std::string report_path;
EnergyFigures report_figures;
std::chrono::steady_clock::time_point loop_start = std::chrono::steady_clock::now();

double seconds(vex_time_t ticks) { return static_cast<double>(ticks) / TICKS_PER_SECOND; }

const char* const radio_state_names[] = {"radio_sleep", "radio_receive", "radio_transmit"};
const char* const led_names[] = {"led_red", "led_green", "led_yellow"};

void write_mote(std::FILE* f, int mote, vex_time_t now, const EnergyFigures& figures) {
  std::fprintf(f, "    {\"mote\": %d", mote);
  const run_stats::MoteCounts& counts = run_stats::counts_of(mote);
  for (int c = 0; c < run_stats::COUNTER_COUNT; ++c) {
    std::fprintf(f, ", \"%s\": %llu", run_stats::name_of(static_cast<run_stats::Counter>(c)),
                 static_cast<unsigned long long>(counts[c]));
  }
  const power_ledger::Times t = power_ledger::times_of(mote, now);
  std::fprintf(f, ",\n     \"on_seconds\": %.8f", seconds(t.on));

  std::fprintf(f, ",\n     \"state_seconds\": {\"cpu\": %.8f", seconds(t.on));
  for (int r = 0; r < 3; ++r) std::fprintf(f, ", \"%s\": %.8f", radio_state_names[r], seconds(t.radio[r]));
  for (int l = 0; l < power_ledger::LED_COUNT; ++l) {
    std::fprintf(f, ", \"%s\": %.8f", led_names[l], seconds(t.led[l]));
  }
  std::fprintf(f, ", \"adc\": %.8f}", adc_seconds(t, figures));
  std::fprintf(f, ",\n     \"adc_conversions\": %llu", static_cast<unsigned long long>(t.adc_conversions));

  const MoteEnergy e = energy_of(t, figures);
  std::fprintf(f, ",\n     \"energy_mJ\": {\"cpu\": %.6f", e.cpu);
  for (int r = 0; r < 3; ++r) std::fprintf(f, ", \"%s\": %.6f", radio_state_names[r], e.radio[r]);
  for (int l = 0; l < power_ledger::LED_COUNT; ++l) {
    std::fprintf(f, ", \"%s\": %.6f", led_names[l], e.led[l]);
  }
  std::fprintf(f, ", \"adc\": %.6f, \"total\": %.6f}}", e.adc, e.total());
}
void write_to(std::FILE* f, const char* ended_by, double wall_seconds, const EnergyFigures& figures) {
  const vex_time_t now = vex_state.vex_time.load();
  const int motes = vex_state.num_nodes;
  std::fprintf(f, "{\n  \"run\": {\"motes\": %d, \"events\": %llu, \"virtual_ticks\": %lld, ", motes,
               static_cast<unsigned long long>(vex_state.queue.handled_count()),
               static_cast<long long>(now));
  std::fprintf(f, "\"virtual_seconds\": %.8f, \"wall_seconds\": %.3f, \"ended_by\": \"%s\"},\n",
               seconds(now), wall_seconds, ended_by);
  std::fprintf(f, "  \"energy_figures\": {");
  for (std::size_t i = 0; i < energy_figure_names.size(); ++i) {
    std::fprintf(f, "%s\"%s\": %.9g", i == 0 ? "" : ", ", energy_figure_names[i].name,
                 figures.*(energy_figure_names[i].field));
  }
  std::fprintf(f, "},\n  \"motes\": [\n");
  for (int mote = 0; mote < motes; ++mote) {
    write_mote(f, mote, now, figures);
    std::fprintf(f, mote + 1 < motes ? ",\n" : "\n");
  }
  std::fprintf(f, "  ]\n}\n");
}
}  // namespace

bool open(const std::string& path, const EnergyFigures& figures) {
  report_file = std::fopen(path.c_str(), "w");
  report_path = path;
  report_figures = figures;
  return report_file != nullptr;
}

void start_clock() { loop_start = std::chrono::steady_clock::now(); }

void write(const char* ended_by) {
  if (report_file == nullptr) return;
  const double wall =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - loop_start).count();
  write_to(report_file, ended_by, wall, report_figures);
  // A full disk must not pass for a complete file.
  const bool written = std::ferror(report_file) == 0;
  if (std::fclose(report_file) != 0 || !written) {
    std::fprintf(stderr, "SIM: Could not write statistics file %s.\n", report_path.c_str());
  }
  report_file = nullptr;
}

}  // namespace run_report

#include "devices/energy_model.hpp"

#include <cmath>
#include <cstdlib>
#include <sstream>

#include "kernel/vex_types.hpp"

const std::array<NamedFigure, 8> energy_figure_names = {{
    {"supply_V", &EnergyFigures::supply_V},
    {"cpu_mA", &EnergyFigures::cpu_mA},
    {"radio_receive_mA", &EnergyFigures::radio_receive_mA},
    {"radio_transmit_mA", &EnergyFigures::radio_transmit_mA},
    {"radio_sleep_mA", &EnergyFigures::radio_sleep_mA},
    {"led_mA", &EnergyFigures::led_mA},
    {"adc_mA", &EnergyFigures::adc_mA},
    {"adc_conversion_us", &EnergyFigures::adc_conversion_us},
}};

namespace {
std::string trimmed(const std::string& text) {
  const auto first = text.find_first_not_of(" \t\r");
  if (first == std::string::npos) return {};
  const auto last = text.find_last_not_of(" \t\r");
  return text.substr(first, last - first + 1);
}
}  // namespace

std::optional<EnergyFigures> read_energy_figures(const std::string& text, std::string& why) {
  EnergyFigures figures;
  std::istringstream lines(text);
  std::string line;
  for (int number = 1; std::getline(lines, line); ++number) {
    line = trimmed(line.substr(0, line.find('#')));
    if (line.empty()) continue;
    const std::string where = "line " + std::to_string(number) + ": ";
    const auto equals = line.find('=');
    if (equals == std::string::npos) {
      why = where + "expected 'name = value'";
      return std::nullopt;
    }
    const std::string name = trimmed(line.substr(0, equals));
    const std::string value = trimmed(line.substr(equals + 1));
    const NamedFigure* figure = nullptr;
    for (const NamedFigure& f : energy_figure_names) {
      if (name == f.name) figure = &f;
    }
    if (figure == nullptr) {
      why = where + "unknown figure '" + name + "'";
      return std::nullopt;
    }
    char* end = nullptr;
    const double number_value = std::strtod(value.c_str(), &end);
    if (value.empty() || *end != '\0' || !std::isfinite(number_value) || number_value < 0) {
      why = where + name + " takes a number of at least 0, not '" + value + "'";
      return std::nullopt;
    }
    figures.*(figure->field) = number_value;
  }
  return figures;
}

double MoteEnergy::total() const {
  double sum = cpu + adc;
  for (double e : radio) sum += e;
  for (double e : led) sum += e;
  return sum;
}

double adc_seconds(const power_ledger::Times& times, const EnergyFigures& figures) {
  return static_cast<double>(times.adc_conversions) * figures.adc_conversion_us / 1e6;
}

MoteEnergy energy_of(const power_ledger::Times& times, const EnergyFigures& figures) {
  // mA x V = mW, and mW x s = mJ.
  auto mJ = [&figures](double mA, vex_time_t ticks) {
    return mA * figures.supply_V * static_cast<double>(ticks) / TICKS_PER_SECOND;
  };
  using power_ledger::Radio;
  MoteEnergy e;
  e.cpu = mJ(figures.cpu_mA, times.on);
  e.radio[static_cast<int>(Radio::sleep)] = mJ(figures.radio_sleep_mA, times.radio[0]);
  e.radio[static_cast<int>(Radio::receive)] = mJ(figures.radio_receive_mA, times.radio[1]);
  e.radio[static_cast<int>(Radio::transmit)] = mJ(figures.radio_transmit_mA, times.radio[2]);
  for (int i = 0; i < power_ledger::LED_COUNT; ++i) e.led[i] = mJ(figures.led_mA, times.led[i]);
  e.adc = figures.adc_mA * figures.supply_V * adc_seconds(times, figures);
  return e;
}

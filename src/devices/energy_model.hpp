#pragma once
// Energy from time: each power state a mote spent time in (power_ledger)
// draws a constant current at the supply voltage, so its energy is
// current x voltage x time. The default figures are those of a Mica-class
// mote (ATmega128L at 4 MHz, RFM TR1000 radio, 3 V); docs/statistics.md
// gives their sources. A small text file can override any of them.
//
// The processor counts as active for the whole time a mote is on: the
// radio stack samples the channel in software every 50 microseconds, so the
// processor of such a mote never gets to sleep.

#include <array>
#include <optional>
#include <string>

#include "kernel/power_ledger.hpp"

struct EnergyFigures {
  double supply_V = 3.0;
  double cpu_mA = 5.5;               // ATmega128L active at 4 MHz, 3 V
  double radio_receive_mA = 3.8;     // TR1000 receive mode
  double radio_transmit_mA = 12.0;   // TR1000 transmit, peak drive
  double radio_sleep_mA = 0.0007;    // TR1000 sleep mode
  double led_mA = 2.2;               // one LED lit
  double adc_mA = 0.3;               // the converter while it converts
  double adc_conversion_us = 104;    // one conversion: 13 cycles of a 125 kHz ADC clock
};

// The figures of a file of "name = value" lines (names as in EnergyFigures,
// '#' starts a comment); names not given keep their defaults. On a mistake,
// nullopt and `why` names the line.
std::optional<EnergyFigures> read_energy_figures(const std::string& text, std::string& why);

// Seconds the ADC converted: its conversions at the figures' duration each.
double adc_seconds(const power_ledger::Times& times, const EnergyFigures& figures);

// Energy in millijoules per state.
struct MoteEnergy {
  double cpu = 0;
  std::array<double, 3> radio{};  // indexed by power_ledger::Radio
  std::array<double, power_ledger::LED_COUNT> led{};
  double adc = 0;
  double total() const;
};

MoteEnergy energy_of(const power_ledger::Times& times, const EnergyFigures& figures);

// The figures by name, in the order the statistics file lists them.
struct NamedFigure {
  const char* name;
  double EnergyFigures::*field;
};
extern const std::array<NamedFigure, 8> energy_figure_names;

#pragma once
// brelo-ctl run --stats and --energy: the statistics file a run's brelo
// wrote (-stats=), read back and printed as one table per mote.

#include <optional>
#include <ostream>
#include <string>

#include "lib/json_reader.hpp"

namespace brelo_ctl {

// The statistics file at `path`; nullopt, with the reason in `why`, when it
// cannot be read or is not a statistics file.
std::optional<brelo_host::JsonValue> read_statistics(const std::string& path, std::string& why);

// Per mote: packets sent, received, failed CRC, acknowledged; serial packets
// out and in; records written and read; results; seconds switched on.
// Below them the run's totals.
void print_statistics_table(const brelo_host::JsonValue& stats, std::ostream& out);

// Per mote: millijoules of the processor, the radio by state, the LEDs, the
// ADC, and the total; above them the figures used.
void print_energy_table(const brelo_host::JsonValue& stats, std::ostream& out);

}  // namespace brelo_ctl

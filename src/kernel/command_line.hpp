#pragma once
// The command line: "[options] num_nodes". Parsing is separate from acting
// on the result so every rule can be tested without ending the process.

#include <optional>
#include <string>
#include <vector>

#include "kernel/vex_types.hpp"

struct SimOptions {
  bool gui = false;                         // -gui
  bool nodbgout = false;                    // -nodbgout
  std::optional<std::string> adc_model;     // -a=
  int boot_window = 10;                     // -b=, seconds
  std::optional<std::string> eeprom_file;   // -ef=
  std::string rate_text = "1000.0";         // -l=
  std::optional<std::string> radio_model;   // -r=, -rf=
  std::optional<std::string> lossy_file;    // -rf=
  int motes_to_boot = -1;                   // -s=, -1: all
  vex_time_t stop_time = 0;                 // -t=, ticks; 0: no limit
  std::optional<int> seed;                  // -seed=
  bool power_profiling = false;             // -p
  bool cpu_profiling = false;               // -cpuprof
  int control_port = 10584;                 // -port=, command port; events on the next one
  bool fast = false;                        // -fast: lazy sampling of silent channels
  std::optional<std::string> stats_file;    // -stats=: run statistics as JSON
  std::optional<std::string> energy_file;   // -energy=: current draws for the energy figures
  std::optional<std::string> trace_file;    // -trace=, a pcap file of the run's packets
  double rate = 1000.0;                     // the rate text as a number
  int num_nodes = 0;                        // the last argument
};

enum class CommandLineError {
  none,
  help,             // print the help text, exit -1
  usage,            // print the usage line, exit -1
  bad_boot_window,  // negative -b= value (error_text holds it)
  bad_rate,         // rate not above 0 (error_text holds the rate text)
  bad_port,         // -port= outside 1..65534 (error_text holds the value)
};

struct ParsedCommandLine {
  SimOptions options;
  CommandLineError error = CommandLineError::none;
  std::string error_text;
};

// Reads the options (every argument but the last, left to right, stopping at
// the first error), the rate and the mote count, and clamps motes-to-boot.
// `args` excludes the program name and must not be empty.
ParsedCommandLine parse_command_line(const std::vector<std::string>& args);

// The C library's atoi, without its undefined behaviour on overflow: leading
// blanks, an optional sign and leading digits; 0 when there are none;
// values beyond int are clamped.
int atoi_clamped(const char* text);

// brelo: a discrete-event simulator of a wireless sensor network whose motes
// all run the stream-query application. This file builds the simulated world
// in its fixed start-up order and hands over to the main loop.

#include <sys/time.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "app/run_report.hpp"
#include "app/wiring.hpp"
#include "control/control_server.hpp"
#include "devices/adc_model.hpp"
#include "devices/eeprom.hpp"
#include "devices/power_state_m.hpp"
#include "kernel/command_line.hpp"
#include "kernel/dbg.hpp"
#include "kernel/driver.hpp"
#include "kernel/exit_hooks.hpp"
#include "kernel/io_pins.hpp"
#include "kernel/pacing.hpp"
#include "kernel/schedule.hpp"
#include "kernel/signals.hpp"
#include "kernel/usage.hpp"
#include "kernel/vex_state.hpp"
#include "kernel/world.hpp"
#include "radio/bulk_receive.hpp"
#include "radio/channel_mon_c.hpp"
#include "radio/connectivity.hpp"
#include "radio/packet_sim.hpp"
#include "radio/spatial_model.hpp"
#include "trace/packet_trace.hpp"

namespace {
[[noreturn]] void fail(const char* format, const char* text) {
  std::fprintf(stderr, format, text);
  std::exit(-1);
}

// Calls the spatial, radio and ADC models' init, in that order.
void vex_state_model_init() {
  spatial_model_init();
  radio_model_init();
  adc_model_init();
}

// The energy figures of -energy=FILE, or the defaults; a file that cannot
// be read or has a mistake stops the run before it starts.
EnergyFigures energy_figures_from(const std::optional<std::string>& path) {
  if (!path) return EnergyFigures{};
  std::ifstream in(*path);
  if (!in) fail("SIM: Cannot read energy figures file %s.\n", path->c_str());
  std::stringstream text;
  text << in.rdbuf();
  std::string why;
  std::optional<EnergyFigures> figures = read_energy_figures(text.str(), why);
  if (!figures) {
    std::fprintf(stderr, "SIM: Bad energy figures in %s, %s.\n", path->c_str(), why.c_str());
    std::exit(-1);
  }
  return *figures;
}

void write_report_on_sigint() { run_report::write("interrupt"); }

int seed_from_clock() {
  timeval now{};
  gettimeofday(&now, nullptr);
  return static_cast<int>(now.tv_usec);
}
// In fast mode neither a sleeping channel monitor nor a receiver stepping a
// byte at a time queues an event for each of its samples.
vex_time_t next_skipped_fast_mode_sample(vex_time_t time) {
  return std::min(ChannelMonSleep::next_skipped_sample(time),
                  BulkReceive::next_skipped_sample(time));
}
}  // namespace

int main(int argc, char** argv) {
  const char* program = argv[0];
  std::vector<std::string> args(argv + 1, argv + argc);
  if (args.size() == 1 && (args[0] == "-h" || args[0] == "--help")) Brelo_help(program);
  if (args.empty()) Brelo_usage(program);

  wire_components();
  dbg_init();
  ParsedCommandLine parsed = parse_command_line(args);
  const SimOptions& options = parsed.options;
  switch (parsed.error) {
    case CommandLineError::none: break;
    case CommandLineError::help: Brelo_help(program);
    case CommandLineError::usage: Brelo_usage(program);
    case CommandLineError::bad_boot_window:
      fail("SIM: boot time value must be a positive integer, not %s\n", parsed.error_text.c_str());
    case CommandLineError::bad_rate:
      fail("SIM: Invalid rate constant: %s.\n", parsed.error_text.c_str());
    case CommandLineError::bad_port:
      fail("SIM: Invalid control port: %s\n", parsed.error_text.c_str());
  }
  // The one way a world starts; a new process has no mote state to clear.
  reset_world(0);
  dbg_suppress_stdout = options.nodbgout;
  set_rate_value(options.rate);
  const int num_nodes = options.num_nodes;

  PowerStateM::PowerState_init(options.power_profiling, options.cpu_profiling);
  if (num_nodes > VEXNODES) {
    std::fprintf(stderr,
                 "Brelo: I am compiled for maximum of %d nodes and you have specified %d nodes.\n",
                 VEXNODES, num_nodes);
    std::fprintf(stderr, "Brelo: Exiting...\n");
    std::exit(-1);
  }
  init_signals();
  vex_state.num_nodes = static_cast<int16_t>(num_nodes);

  const std::string radio_model = options.radio_model.value_or("simple");
  const char* lossy_file = options.lossy_file ? options.lossy_file->c_str() : nullptr;
  if (radio_model == "simple") {
    vex_state.radioModel = VARNIX_RADIO_MODEL_SIMPLE;
  } else if (radio_model == "lossy") {
    vex_state.radioModel = VARNIX_RADIO_MODEL_LOSSY;
  } else {
    fail("SIM: Don't recognize RFM model type %s.\n", radio_model.c_str());
  }
  create_radio_model(vex_state.radioModel, lossy_file);
  ChannelMonSleep::enable(options.fast);
  BulkReceive::enable(options.fast);

  const std::string adc_model = options.adc_model.value_or("generic");
  if (adc_model != "generic" && adc_model != "random") {
    fail("SIM: Bad ADC model name: %s\n", adc_model.c_str());
  }
  create_adc_model(adc_model == "random");

  const EnergyFigures figures = energy_figures_from(options.energy_file);
  if (options.stats_file) {
    if (!run_report::open(*options.stats_file, figures)) {
      fail("SIM: Cannot write statistics file %s.\n", options.stats_file->c_str());
    }
    set_sigint_exit_hook(write_report_on_sigint);
  }

  if (options.eeprom_file) {
    namedEEPROM(options.eeprom_file->c_str(), num_nodes, EEPROM_BYTES_PER_MOTE);
  } else {
    anonymousEEPROM(num_nodes, EEPROM_BYTES_PER_MOTE);
  }
  dbg_clear(DBG_SIM | DBG_BOOT, "SIM: EEPROM system initialized.\n");

  if (options.trace_file) {
    std::string why;
    if (!packet_trace::open(*options.trace_file, why)) {
      std::fprintf(stderr, "SIM: Cannot write trace file %s: %s\n", options.trace_file->c_str(),
                   why.c_str());
      std::exit(-1);
    }
    at_run_end(packet_trace::close);
  }

  create_simple_spatial_model();
  vex_state.radio_kb_rate = 40;
  vex_state_model_init();
  packet_sim_init();
  init_hardware(num_nodes);

  vex_state.queue.init(0);
  dbg_clear(DBG_SIM, "SIM: event queue initialized.\n");

  const int seed = options.seed.value_or(seed_from_clock());
  dbg_clear(DBG_ALL, "SIM: Random seed is %i\n", seed);
  std::srand(static_cast<unsigned>(seed));

  {
    ControlSettings control;
    control.command_port = static_cast<uint16_t>(options.control_port);
    control.event_port = static_cast<uint16_t>(options.control_port + 1);
    control.gui = options.gui;
    initializeSockets(control);
  }
  if (options.gui) waitForGuiConnection();

  schedule_boots(options.motes_to_boot, options.boot_window);
  rate_checkpoint();
  run_report::start_clock();

  MainLoopHooks hooks;
  if (options.fast) hooks.skipped_event_at_or_after = next_skipped_fast_mode_sample;
  if (PowerStateM::cpu_on()) hooks.cpu_checkpoint = PowerStateM::PowerState_CPUCycleCheckpoint;
  run_main_loop(options.stop_time, hooks);
  run_end_hooks();

  if (PowerStateM::power_on() || PowerStateM::cpu_on()) PowerStateM::PowerState_stop();
  run_report::write("time limit");
  std::printf("Simulation of %i motes completed.\n", num_nodes);
  std::fflush(stdout);
  if (const char* stats = std::getenv("BRELO_STATS"); stats != nullptr && *stats != '\0') {
    std::fprintf(stderr, "brelo stats: events %llu pending %zu ticks %lld\n",
                 static_cast<unsigned long long>(vex_state.queue.handled_count()),
                 vex_state.queue.size(), static_cast<long long>(sim::now()));
  }
  return 0;
}

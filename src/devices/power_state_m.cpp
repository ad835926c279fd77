#include "devices/power_state_m.hpp"

#include <cstdio>
#include <cstdlib>
#include <vector>

#include "kernel/dbg.hpp"
#include "kernel/power_ledger.hpp"
#include "kernel/schedule.hpp"
#include "kernel/vex_state.hpp"

namespace PowerStateM {
namespace {
bool power_init = false;
bool prof_on = false;
bool cpu_prof_on = false;
std::vector<double> cycles;  // cost of each basic block

constexpr const char* cycle_map_file = "bb_cycle_map";
constexpr const char* exec_count_file = "bb_exec_cnt";

// Basic blocks and their execution counts come from instrumentation.
int num_bbs() { return 0; }
int bb_exec_count(int /*mote*/, int /*block*/) { return 0; }

[[noreturn]] void fatal(const char* text) {
  std::fputs(text, stderr);
  std::exit(-1);
}

[[noreturn]] void cannot_open(const char* name) {
  std::fprintf(stderr, "Couldn't open '%s', exiting\n", name);
  std::exit(-1);
}

int mote() { return vex_state.current_node.load(); }
long long now() { return sim::now(); }

void read_cycle_map() {
  FILE* file = std::fopen(cycle_map_file, "r");
  if (file == nullptr) cannot_open(cycle_map_file);
  cycles.assign(num_bbs(), 0.0);
  int block;
  double cost;
  while (std::fscanf(file, " %d %lf", &block, &cost) == 2) {
    if (block >= 0 && block < static_cast<int>(cycles.size())) cycles[block] = cost;
  }
  std::fclose(file);
}
}  // namespace

result_t PowerState_init(bool power, bool cpu) {
  if (power_init) {
    std::fputs("PowerState.init() called twice...\n", stderr);
    return SUCCESS;
  }
  prof_on = power;
  cpu_prof_on = cpu;
  power_init = true;
  if (cpu_prof_on) read_cycle_map();
  return SUCCESS;
}

bool power_on() { return prof_on; }
bool cpu_on() { return cpu_prof_on; }

// Each note is a literal format, so the compiler checks it.
#define POWER_NOTE(state) \
  if (prof_on) dbg(DBG_POWER, "POWER: Mote %d " state " at %lld\n", mote(), now())

// Every state change also goes into the power ledger, which the energy
// figures of the statistics file come from, with or without -p.
void redOn() {
  POWER_NOTE("LED_STATE RED_ON");
  power_ledger::led(power_ledger::red, true);
}
void redOff() {
  POWER_NOTE("LED_STATE RED_OFF");
  power_ledger::led(power_ledger::red, false);
}
void greenOn() {
  POWER_NOTE("LED_STATE GREEN_ON");
  power_ledger::led(power_ledger::green, true);
}
void greenOff() {
  POWER_NOTE("LED_STATE GREEN_OFF");
  power_ledger::led(power_ledger::green, false);
}
void yellowOn() {
  POWER_NOTE("LED_STATE YELLOW_ON");
  power_ledger::led(power_ledger::yellow, true);
}
void yellowOff() {
  POWER_NOTE("LED_STATE YELLOW_OFF");
  power_ledger::led(power_ledger::yellow, false);
}
// A started radio listens: the channel monitor samples it from then on.
void radioStart() {
  POWER_NOTE("RADIO_STATE ON");
  power_ledger::radio(power_ledger::Radio::receive);
}
void radioStop() {
  POWER_NOTE("RADIO_STATE OFF");
  power_ledger::radio(power_ledger::Radio::sleep);
}
void radioTxMode() {
  POWER_NOTE("RADIO_STATE TX");
  power_ledger::radio(power_ledger::Radio::transmit);
}
void radioRxMode() {
  POWER_NOTE("RADIO_STATE RX");
  power_ledger::radio(power_ledger::Radio::receive);
}
void ADCon() {
  if (prof_on) dbg(DBG_POWER, "POWER: Mote %d ADC ON at %lld \n", mote(), now());
}
void ADCdataReady() {
  if (prof_on) dbg(DBG_POWER, "POWER: Mote %d ADC DATA_READY at %lld \n", mote(), now());
  power_ledger::adc_conversion();
}
#undef POWER_NOTE

void ADCsample(int port) {
  if (prof_on) {
    dbg(DBG_POWER, "POWER: Mote %d ADC SAMPLE PORT %d at %lld \n", mote(), port, now());
  }
}

double PowerState_get_mote_cycles(int mote) {
  if (!cpu_prof_on) fatal("get_mote_cycles() called when cpu prof is off!  Shouldn't happen!\n");
  double total = 0;
  for (int block = 1; block < num_bbs(); ++block) total += bb_exec_count(mote, block) * cycles[block];
  return total;
}

void PowerState_CPUCycleCheckpoint() {
  if (!cpu_prof_on) fatal("CPUCycleCheckpoint() called when cpu prof is off!  Shouldn't happen!\n");
  for (int mote = 0; mote < vex_state.num_nodes; ++mote) {
    dbg(DBG_POWER, "POWER: Mote %d CPU_CYCLES %.1lf at %lld\n", mote,
        PowerState_get_mote_cycles(mote), now());
  }
}

result_t PowerState_stop() {
  if (!cpu_prof_on) return SUCCESS;
  FILE* file = std::fopen(exec_count_file, "w");
  if (file == nullptr) cannot_open(exec_count_file);
  for (int mote = 0; mote < vex_state.num_nodes; ++mote) {
    double total = PowerState_get_mote_cycles(mote);
    std::fprintf(file, "mote %d total cycles: %.1lf\n", mote, total);
    dbg(DBG_POWER, "POWER: Mote %d CPU_CYCLES %.1lf at %lld\n", mote, total,
        now());
    for (int block = 1; block < num_bbs(); ++block) {
      std::fprintf(file, "%6d %6d %8d\n", mote, block, bb_exec_count(mote, block));
    }
  }
  std::fclose(file);
  return SUCCESS;
}

void reset_for_tests() {
  power_init = prof_on = cpu_prof_on = false;
  cycles.clear();
}
}  // namespace PowerStateM

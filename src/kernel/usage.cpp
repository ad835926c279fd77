#include "kernel/usage.hpp"

#include <cstdio>
#include <cstdlib>

#include "kernel/dbg.hpp"

void Brelo_help(const char* program) {
  std::fprintf(stderr, "Usage: %s [options] num_nodes\n", program);
  std::fputs("  [options] are:\n", stderr);
  std::fputs("  -h, --help        Display this message.\n", stderr);
  std::fputs("  -gui              pauses simulation waiting for GUI to connect\n", stderr);
  std::fputs("  -nodbgout\t only send dbg messages to GUI, not to stdout\n", stderr);
  std::fputs("  -a=<model>        specifies ADC model (generic is default)\n", stderr);
  std::fputs("                    options: generic random\n", stderr);
  std::fputs("  -b=<sec>          motes boot over first <sec> seconds (default 10)\n", stderr);
  std::fputs("  -ef=<file>        use <file> for eeprom; otherwise anonymous file is used\n", stderr);
  std::fputs("  -l=<scale>        run sim at <scale> times real time (fp constant)\n", stderr);
  std::fputs("                    inf: as fast as possible; control clients are told\n", stderr);
  std::fputs("                    at most 4294967.295 (larger rates and inf read so)\n", stderr);
  std::fputs("  -r=<model>        specifies a radio model (simple is default)\n", stderr);
  std::fputs("                    options: simple lossy\n", stderr);
  std::fputs("  -rf=<file>        specifies file for lossy mode (lossy.nss is default)\n", stderr);
  std::fputs("                    implicitly selects lossy model\n", stderr);
  std::fputs("  -s=<num>          only boot <num> of nodes\n", stderr);
  std::fputs("  -t=<sec>          run simulation for <sec> virtual seconds\n", stderr);
  std::fputs("  -seed=<seed>      use random seed <seed>\n", stderr);
  std::fputs("  -p                do power profiling\n", stderr);
  std::fputs("  -cpuprof          do CPU profiling (only in builds instrumented for it)\n", stderr);
  std::fputs("  -port=<port>      control ports: commands on <port>, events on <port>+1\n", stderr);
  std::fputs("                    (default 10584)\n", stderr);
  std::fputs("  -fast             skip the channel samples of motes that hear silence\n", stderr);
  std::fputs("                    (simple radio model; radio, simmem debug lines off).\n", stderr);
  std::fputs("                    Same results except for the order of events sharing a\n", stderr);
  std::fputs("                    tick: lines of one tick may interleave differently.\n", stderr);
  std::fputs("  -stats=<file>     write run statistics and energy to <file> (JSON) at\n", stderr);
  std::fputs("                    the end of the run or on Ctrl-C\n", stderr);
  std::fputs("  -energy=<file>    current draws and supply voltage for the energy\n", stderr);
  std::fputs("                    figures of -stats (name = value lines)\n", stderr);
  std::fputs("  -trace=<file>     write the packets sent and received to <file> (pcap)\n", stderr);
  std::fputs("  num_nodes         number of nodes to simulate\n", stderr);
  std::fputs("\n", stderr);
  dbg_help();
  std::fflush(stdout);  // keep the mode list between the two stderr lines
  std::fputs("\n", stderr);
  std::exit(-1);
}

void Brelo_usage(const char* program) {
  std::fprintf(stderr, "Usage: %s [-h|--help] [options] num_nodes_total\n", program);
  std::exit(-1);
}

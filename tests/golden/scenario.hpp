#pragma once
// A fixed run of brelo driven over its control ports, written down as one
// text: everything brelo printed on standard output, then every event a
// watcher received. The command stream is sent while brelo waits (-gui) for
// its first watcher, with every command timed ahead of the run, so the same
// binary, options and seed give the same text byte for byte.

#include <string>
#include <vector>

namespace golden {

struct Transcript {
  bool ok = false;         // the run went through to its end
  std::string failure;     // why not, when !ok
  std::string out;         // standard output, control ports masked
  std::string events;      // one line per event received by the watcher
  std::string text() const { return out + "---- events ----\n" + events; }
};

// The stored run: 5 motes, two of them joined by a query whose records
// travel by radio to mote 0 and on to the serial line, plus interrupts, a
// mote switched off and on, and a radio message handed to a mote.
// `extra_args` go in front of the fixed options (for example a mode switch);
// `dbg` is the DBG variable.
inline constexpr const char* kGoldenDbg = "boot,am,usr1,led,uart,crc,simmem";
Transcript run_query_scenario(const std::vector<std::string>& extra_args = {},
                              const std::string& dbg = kGoldenDbg);

// Runs brelo with `args` (after -port=) to its end and returns its output
// with the control ports masked; fails the transcript if it did not end
// normally.
Transcript run_plain(const std::vector<std::string>& args, const std::string& dbg);

}  // namespace golden

#pragma once
// Turns a query file into what the runner sends: settings, and operator
// messages with the virtual times at which they enter mote 0's serial port.
//
// Compiling checks that the statements make sense together and refuses the
// whole file when any does not, so that nothing half-made reaches a
// network: every stream an operator names is declared on its mote and can be
// read or written as asked; a mote's tables have room for the opens,
// operators and channels (the tables are followed through the queries in
// time order, stops freeing what they close); remote streams have both
// ends; results leave only through mote 0; every message goes out before
// the run ends. Sections for several motes become one part per mote first,
// over the network the file (or the runner) settles on. Open-table indexes are assigned the way the
// motes assign them: the lowest free entry, in the order of the opens.
//
// The plan also says which fields the results carry (stream_layouts.hpp).

#include <cstdint>
#include <string>
#include <vector>

#include "protocol/operator_messages.hpp"
#include "queryfile/collect_expand.hpp"
#include "protocol/time_format.hpp"  // TICKS_PER_SECOND
#include "queryfile/query_file.hpp"
#include "queryfile/stream_layouts.hpp"
#include "topology/lossy_file.hpp"

namespace query_file {

// Messages for motes other than 0 are forwarded by mote 0 over the radio one
// at a time. The runner hands them over as fast as mote 0's radio sends them
// (lib/session.hpp), so a message's planned time is only the earliest moment
// it may go; the plan keeps them one tick apart, in order. On a quiet
// channel mote 0's radio needs about this long per forwarded message (a
// 32-byte packet coded three bits for one, at 40 kbit/s, plus the channel
// check): the checker estimates when an install ends with it. A busy
// channel only makes it later, so a file the estimate refuses cannot work.
constexpr int64_t FORWARD_SPACING = TICKS_PER_SECOND / 40;

// Motes out of mote 0's reach are started by the runner directly (TimedMessage::direct), one at a
// time, with nothing after each for this long. Two such motes may not hear
// each other while a mote between them hears both, so neither holds back
// for the other: the gap keeps each start's OPEN (a channel frame takes
// about 58 ms on the air) on its own. It also spreads the motes' sampling
// over time. Motes sampling with one period keep their phase for good, so
// two records that meet at a relay once meet there every period: in a
// 100-mote grid, starts 0.125 s apart left whole subtrees silent, 0.25 s
// apart every source delivered.
constexpr int64_t DIRECT_START_GAP = TICKS_PER_SECOND / 4;

// Motes boot at random moments of the first virtual second of a run the
// runner starts; queries are installed after that.
constexpr double BOOT_WINDOW = 1.0;

// The table entry a message fills on its mote, as the compiler planned it.
// Operators name streams by open-table index, so the engine must take the
// same entries; opens also say which stream the entry must hold.
struct PlannedEntry {
  enum class Table : uint8_t { none, opens, operators };
  Table table = Table::none;  // none: starts and stops
  int index = -1;
  StreamKind stream = StreamKind::local;  // opens
  uint16_t to = 0;                        // opens of a sending remote stream: its destination
  protocol::operator_type kind = protocol::NO_OPERATOR;  // operators: the kind installed
};

struct TimedMessage {
  int64_t time = 0;  // virtual ticks: the earliest it enters mote 0's serial port
  uint16_t to = 0;   // the mote that decodes it
  protocol::OperatorMsg message{};
  int line = 0;      // the statement it came from
  PlannedEntry planned{};
  // Mote 0 forwards a message one hop only, and this mote is out of its
  // reach (the topology, or a poor `link` from mote 0): the runner hands
  // the message straight to the mote's radio receiver instead, as if the
  // mote had been programmed before it was placed.
  bool direct = false;
};

struct Plan {
  int motes = 1;
  double until = 30;
  uint32_t seed = 1;
  bool random_adc = false;
  struct Adc {
    uint16_t mote;
    uint8_t port;
    uint16_t value;
  };
  std::vector<Adc> adc;
  std::vector<LinkSetting> links;
  // The lossy-link file the run uses, read and checked against the
  // network; empty: none.
  std::string topology;
  std::vector<topology::Link> topology_links;
  std::vector<TimedMessage> messages;  // in time order
  std::vector<ResultLayout> results;   // in time order
  std::vector<CollectPlan> collects;   // the relay tree of each `collect`
};

struct CompileResult {
  Plan plan;
  std::vector<Diagnostic> errors;
  // Things that are allowed but probably not meant: streams nothing uses, a
  // file whose results never reach the host.
  std::vector<Diagnostic> warnings;
};

// Checks and compiles `file`. Times in the file count from `origin` (in
// ticks), the moment the run begins. A topology file is read here: its
// mistakes, and links naming motes outside the network, are errors with its
// own lines. `collect` trees are planned over `links` when given, else over
// the topology file's links, else over the file's `link` statements in one
// radio cell.
CompileResult compile(const QueryFile& file, int64_t origin = 0,
                      const Connectivity* links = nullptr);

// What a `collect` plans over when compile() is given no links: the
// topology file's links (with the file's `link` statements added), else
// the `link` statements in one radio cell.
Connectivity collect_links(const QueryFile& file);

}  // namespace query_file

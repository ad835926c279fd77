#pragma once
// A query file as written: the statements of a file, read into records that
// keep the line each came from. Reading checks the form of every statement
// (known words, numbers in range); whether the statements make sense together
// (streams declared, limits of a mote) is checked when the file is compiled
// into messages (query_compile.hpp).
//
// The format, in short (docs/queries.md has the whole of it):
//
//   # light readings of mote 1 above 100, collected at mote 0
//   motes 2
//   until 20
//   adc 1 light 800
//   topology grid.nss
//   query 1 at 2
//   on mote 1
//     stream light = sensor light every 0.5
//     stream bright = local
//     stream up = remote 9 to 0
//     select light -> bright where field 3 > 100
//     send bright -> up
//   on mote 0
//     stream down = remote 9
//     serial down

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "protocol/time_format.hpp"  // TIMER_COUNTS_PER_SECOND

namespace query_file {

// A mistake found in a file: where, and what.
struct Diagnostic {
  std::string file;
  int line = 0;
  std::string text;
};
// "file:line: text" ("file: text" for line 0, the file as a whole)
std::string format(const Diagnostic& d);

enum class StreamKind { sensor, local, remote_out, remote_in };

struct StreamDecl {
  int line = 0;
  std::string name;
  StreamKind kind = StreamKind::local;
  uint8_t sensor = 0;        // sensor id (sensor streams)
  bool on_demand = false;    // sensor streams: sample on each read instead of a timer
  uint32_t rate = 0;         // sensor streams: timer counts between samples; remote: channel rate
  uint8_t buffer = 4;        // records the stream keeps
  uint8_t remote_name = 0;   // remote streams: the number both ends share
  uint16_t to = 0;           // sending side: the mote that reads the stream
  bool reliable = false;     // sending side: keep copies of written records
};

enum class OpKind {
  select_constant,  // where field F OP VALUE
  select_fields,    // where field F OP field G
  project,
  send,
  mirror,
  serial,
  sync_join,
  merge_join,
  pair_avg,
  pair_sum,
  pair_max,
  pair_min,
  window_avg,
  window_max,
  window_min,
};
const char* op_word(OpKind kind);  // the word that starts the statement

struct OperatorDecl {
  int line = 0;
  OpKind kind = OpKind::send;
  std::vector<std::string> inputs;  // one, or two for joins and pair aggregates
  std::string output;               // empty for serial
  uint8_t predicate = 0;
  uint8_t field1 = 255;
  uint8_t field2 = 255;
  uint8_t constant = 0;
  uint8_t epochs = 0;
  uint8_t read_fields = 10;  // fields asked for per record
  uint8_t count_byte = 9;    // pair averages: the byte that counts the records averaged
  uint8_t mark_field = 4;    // pair averages: a field marked 1 in unmatched second-stream records
};

struct MotePart {
  int line = 0;
  uint16_t mote = 0;
  std::vector<StreamDecl> streams;
  std::vector<OperatorDecl> operators;
};

// The motes of an `on motes ...` section.
struct MoteSet {
  bool all = false;
  std::vector<uint16_t> listed;  // without `all`: the motes, in ascending order
  std::vector<uint16_t> except;  // with `all`: the motes left out
  std::string text;              // as written, for messages ("1-19", "all except 0")
};

// A section for several motes as written: its statements gathered once in
// `part` (whose `mote` means nothing), for the query at index `query`. It
// becomes one part per mote when the file is compiled (mote_sections.hpp).
struct MoteSection {
  std::size_t query = 0;
  MoteSet motes;
  MotePart part;
};

// `collect SENSOR every S from MOTES to M [buffer N] [skip_unreachable]`:
// every mote of MOTES samples SENSOR and its records reach mote M, relayed
// along a tree the compiler plans (collect_expand.hpp), and from mote 0 go
// to the host.
struct CollectDecl {
  std::size_t query = 0;  // index in QueryFile::queries
  int line = 0;
  uint8_t sensor = 0;
  uint32_t rate = 0;  // timer counts between samples
  double every = 0;   // seconds, as written
  MoteSet sources;
  uint16_t to = 0;
  uint8_t buffer = 8;             // records each relay's incoming stream keeps
  bool skip_unreachable = false;  // unreachable sources are a warning, not an error
};

struct QueryDecl {
  int line = 0;
  uint8_t id = 0;
  double at = 2.0;  // virtual seconds
  std::vector<MotePart> motes;
  std::optional<double> stop_at;
  int stop_line = 0;
};

struct AdcSetting {
  int line = 0;
  std::vector<uint16_t> motes;  // empty with `all`
  bool all = false;
  uint8_t port = 0;
  uint16_t value = 0;
};

struct LinkSetting {
  int line = 0;
  uint16_t from = 0;
  uint16_t to = 0;
  double probability = 0;
};

struct QueryFile {
  std::string name;  // file name, for messages
  std::optional<int> motes;
  int motes_line = 0;  // 0 when not from the file
  std::optional<double> until;
  std::optional<uint32_t> seed;
  bool random_adc = false;
  std::vector<AdcSetting> adc;
  std::vector<LinkSetting> links;
  // The lossy-link file the run uses (`topology FILE`, a path relative to
  // the query file, made relative to the current folder here); empty: none.
  std::string topology;
  int topology_line = 0;  // 0 when not from the file
  std::vector<QueryDecl> queries;
  std::vector<MoteSection> sections;  // `on motes ...`, not yet parts of their queries
  std::vector<CollectDecl> collects;  // not yet parts of their queries
};

struct ParseResult {
  QueryFile file;
  std::vector<Diagnostic> errors;
};

// Reads the text of a query file named `name`.
ParseResult parse(std::string_view text, const std::string& name);

// Reads one `adc` or `link` setting given on the command line (the same
// words as in a file, without the keyword) into `file`; `origin` names it
// in messages ("--adc"). Returns the errors.
std::vector<Diagnostic> parse_adc_option(std::string_view text, const std::string& origin,
                                         QueryFile& file);
std::vector<Diagnostic> parse_link_option(std::string_view text, const std::string& origin,
                                          QueryFile& file);

// Sensor ids, and the ADC value-table ports their readings come from, by
// name ("light", "temperature", ...).
std::optional<uint8_t> sensor_id(std::string_view name);
std::optional<uint8_t> sensor_adc_port(std::string_view name);
// The short name of a sensor id ("light"); "sensor" for an unknown id.
const char* sensor_name(uint8_t id);

using protocol::TIMER_COUNTS_PER_SECOND;

}  // namespace query_file

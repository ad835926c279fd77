#include "queryfile/query_file.hpp"

#include <cctype>
#include <cmath>
#include <map>

#include "protocol/operators.hpp"
#include "protocol/sensors.hpp"
#include "queryfile/mote_sections.hpp"
#include "queryfile/statement_words.hpp"

namespace query_file {
namespace {

// "light, temperature, ...", for messages.
std::string sensor_list() {
  std::string list;
  for (const protocol::SensorInfo& s : protocol::sensors) {
    if (!list.empty()) list += ", ";
    list += s.name;
  }
  return list;
}

uint8_t sensor_by_name(const std::string& word) {
  auto id = sensor_id(word);
  if (!id) throw LineError{"unknown sensor " + quoted(word) + "; the sensors are " + sensor_list()};
  return *id;
}

std::optional<uint8_t> predicate_code(const std::string& word) {
  using namespace protocol;
  static const std::map<std::string, predicate_type> codes = {
      {"=", EQUAL},           {"==", EQUAL}, {"!=", NOT_EQUAL},    {">", GREATER},
      {">=", GREATER_OR_EQUAL}, {"<", LESS},   {"<=", LESS_OR_EQUAL}};
  auto found = codes.find(word);
  if (found == codes.end()) return std::nullopt;
  return static_cast<uint8_t>(found->second);
}

struct OpSyntax {
  const char* word;
  OpKind kind;
  int inputs;  // before "->"; serial has no output
};
constexpr OpSyntax op_syntax[] = {
    {"select", OpKind::select_constant, 1}, {"project", OpKind::project, 1},
    {"send", OpKind::send, 1},              {"mirror", OpKind::mirror, 1},
    {"serial", OpKind::serial, 1},          {"sync_join", OpKind::sync_join, 2},
    {"merge_join", OpKind::merge_join, 2},  {"avg", OpKind::pair_avg, 2},
    {"sum", OpKind::pair_sum, 2},           {"max", OpKind::pair_max, 2},
    {"min", OpKind::pair_min, 2},           {"window_avg", OpKind::window_avg, 1},
    {"window_max", OpKind::window_max, 1},  {"window_min", OpKind::window_min, 1},
};

const OpSyntax* find_op(const std::string& word) {
  for (const OpSyntax& s : op_syntax) {
    if (word == s.word) return &s;
  }
  return nullptr;
}

bool is_pair(OpKind k) {
  return k == OpKind::pair_avg || k == OpKind::pair_sum || k == OpKind::pair_max ||
         k == OpKind::pair_min;
}
bool is_window(OpKind k) {
  return k == OpKind::window_avg || k == OpKind::window_max || k == OpKind::window_min;
}

class Parser {
 public:
  explicit Parser(const std::string& name) { result_.file.name = name; }

  void line(std::string_view text, int number) {
    if (std::size_t hash = text.find('#'); hash != std::string_view::npos) text = text.substr(0, hash);
    Words words(tokenize(text));
    if (words.done()) return;
    line_ = number;
    if (words.peek() == "topology") {
      // A path may hold spaces and symbols: the rest of the line is the path.
      topology(text.substr(text.find("topology") + 8));
      return;
    }
    try {
      statement(words);
    } catch (const LineError& error) {
      fail(error.text);
    }
  }
  ParseResult take() { return std::move(result_); }

  // One setting given outside a file.
  void adc_words(Words& words) { adc(words); }
  void link_words(Words& words) { link(words); }
  void at_line(int number) { line_ = number; }
  void fail(const std::string& text) {
    result_.errors.push_back({result_.file.name, line_, text});
  }

 private:
  QueryFile& file() { return result_.file; }

  void statement(Words& words) {
    const std::string keyword = words.take("statement");
    if (keyword == "motes") {
      file().motes = static_cast<int>(words.integer("the number of motes", 1, MAX_MOTES));
      file().motes_line = line_;
      words.finish("'motes'");
    } else if (keyword == "until") {
      // The simulation's time limit is whole seconds.
      file().until = static_cast<double>(words.integer("the time limit in seconds", 1, 1000000));
      words.finish("'until'");
    } else if (keyword == "seed") {
      file().seed = static_cast<uint32_t>(words.integer("the seed", 0, 2147483647));
      words.finish("'seed'");
    } else if (keyword == "adc") {
      adc(words);
    } else if (keyword == "link") {
      link(words);
    } else if (keyword == "query") {
      query(words);
    } else if (keyword == "stop") {
      stop(words);
    } else if (keyword == "collect") {
      collect(words);
    } else if (keyword == "on" && words.take_if("motes")) {
      section(words);
    } else if (keyword == "on" || keyword == "mote") {
      if (keyword == "on") words.expect("mote", "after 'on'");
      mote(words);
    } else if (keyword == "stream") {
      stream(words);
    } else if (const OpSyntax* syntax = find_op(keyword)) {
      operation(*syntax, words);
    } else {
      throw LineError{"unknown statement " + quoted(keyword) +
                      "; a line starts with motes, until, seed, adc, link, topology, query, stop, on mote,"
                      " collect, stream or an operator (select, project, send, mirror, serial, sync_join,"
                      " merge_join, avg, sum, max, min, window_avg, window_max, window_min)"};
    }
  }

  void topology(std::string_view rest) {
    const std::size_t start = rest.find_first_not_of(" \t");
    const std::size_t end = rest.find_last_not_of(" \t\r");
    if (start == std::string_view::npos) {
      fail("'topology' needs the lossy-link file: topology FILE");
      return;
    }
    if (!file().topology.empty()) {
      fail("the topology is already given on line " + std::to_string(file().topology_line));
      return;
    }
    std::string path(rest.substr(start, end + 1 - start));
    const std::size_t slash = file().name.rfind('/');
    if (path[0] != '/' && slash != std::string::npos) path = file().name.substr(0, slash + 1) + path;
    file().topology = path;
    file().topology_line = line_;
  }

  void adc(Words& words) {
    AdcSetting s;
    s.line = line_;
    if (words.take_if("random")) {
      words.finish("'adc random'");
      file().random_adc = true;
      return;
    }
    std::string motes = words.take("the motes (an id, a range such as 1-3, or all)");
    parse_motes(motes, s);
    if (words.take_if("port")) {
      s.port = static_cast<uint8_t>(words.integer("the ADC port", 0, 255));
    } else {
      std::string sensor = words.take("a sensor name or 'port N'");
      auto port = sensor_adc_port(sensor);
      if (!port) {
        throw LineError{"unknown sensor " + quoted(sensor) + "; the sensors are " + sensor_list() +
                        " (or 'port N')"};
      }
      s.port = *port;
    }
    s.value = static_cast<uint16_t>(words.integer("the ADC value", 0, 65535));
    words.finish("'adc'");
    file().adc.push_back(s);
  }

  void parse_motes(const std::string& text, AdcSetting& s) {
    if (text == "all") {
      s.all = true;
      return;
    }
    s.motes = parse_mote_list(text);
  }

  void link(Words& words) {
    LinkSetting s;
    s.line = line_;
    s.from = words.mote("the sending mote");
    s.to = words.mote("the receiving mote");
    s.probability = words.number("the bit-error probability", 0, 1);
    words.finish("'link'");
    file().links.push_back(s);
  }

  void query(Words& words) {
    QueryDecl q;
    q.line = line_;
    q.id = static_cast<uint8_t>(words.integer("the query id", 1, 255));
    if (words.take_if("at")) q.at = words.number("the start time", 0, 1e6);
    words.finish("'query'");
    for (const QueryDecl& other : file().queries) {
      if (other.id == q.id) {
        throw LineError{"query " + std::to_string(q.id) + " is already defined on line " +
                        std::to_string(other.line)};
      }
    }
    file().queries.push_back(q);
    current_mote_ = nullptr;
    current_section_ = nullptr;
  }

  void stop(Words& words) {
    int id = static_cast<int>(words.integer("the query id", 1, 255));
    words.expect("at", "after the query id (stop ID at SECONDS)");
    double at = words.number("the stop time", 0, 1e6);
    words.finish("'stop'");
    for (QueryDecl& q : file().queries) {
      if (q.id != id) continue;
      if (q.stop_at) {
        throw LineError{"query " + std::to_string(id) + " is already stopped on line " +
                        std::to_string(q.stop_line)};
      }
      if (at <= q.at) {
        throw LineError{"query " + std::to_string(id) + " starts at " + seconds(q.at) +
                        " s; it cannot stop at " + seconds(at) + " s"};
      }
      q.stop_at = at;
      q.stop_line = line_;
      return;
    }
    throw LineError{"no query " + std::to_string(id) + " above this line to stop"};
  }

  static std::string seconds(double s) {
    char text[32];
    std::snprintf(text, sizeof text, "%g", s);
    return text;
  }

  void mote(Words& words) {
    if (file().queries.empty()) {
      throw LineError{"'on mote' outside a query; begin one with 'query ID'"};
    }
    uint16_t id = words.mote("the mote id");
    words.finish("'on mote'");
    QueryDecl& q = file().queries.back();
    for (MotePart& part : q.motes) {
      if (part.mote == id) {  // a second section for the same mote continues the first
        current_mote_ = &part;
        return;
      }
    }
    q.motes.push_back(MotePart{line_, id, {}, {}});
    current_mote_ = &q.motes.back();
    current_section_ = nullptr;
  }

  // `on motes LIST`: the statements that follow run on each of the motes.
  void section(Words& words) {
    if (file().queries.empty()) {
      throw LineError{"'on motes' outside a query; begin one with 'query ID'"};
    }
    std::vector<std::string> rest;
    while (!words.done()) rest.push_back(words.take("a mote"));
    MoteSection s;
    s.query = file().queries.size() - 1;
    s.motes = parse_mote_set(rest);
    s.part.line = line_;
    file().sections.push_back(std::move(s));
    current_section_ = &file().sections.back();
    current_mote_ = &current_section_->part;
  }

  // `collect SENSOR every S from MOTES to M [buffer N] [skip_unreachable]`
  void collect(Words& words) {
    if (file().queries.empty()) {
      throw LineError{"'collect' outside a query; begin one with 'query ID'"};
    }
    CollectDecl c;
    c.query = file().queries.size() - 1;
    c.line = line_;
    c.sensor = sensor_by_name(words.take("the sensor name (collect SENSOR every S from MOTES to M)"));
    words.expect("every", "after the sensor (collect SENSOR every S from MOTES to M)");
    c.every = words.number("the sampling period", 1 / TIMER_COUNTS_PER_SECOND, 3600);
    c.rate = static_cast<uint32_t>(std::lround(c.every * TIMER_COUNTS_PER_SECOND));
    words.expect("from", "after the sampling period (collect SENSOR every S from MOTES to M)");
    words.take_if("motes");
    std::vector<std::string> motes;
    while (!words.done() && words.peek() != "to") motes.push_back(words.take("a mote"));
    c.sources = parse_mote_set(motes);
    words.expect("to", "after the motes (collect SENSOR every S from MOTES to M)");
    c.to = words.mote("the collecting mote");
    while (!words.done()) {
      const std::string option = words.take("an option");
      if (option == "buffer") {
        c.buffer = static_cast<uint8_t>(words.integer("the buffer size", 1, 255));
      } else if (option == "skip_unreachable") {
        c.skip_unreachable = true;
      } else {
        throw LineError{"unknown option " + quoted(option) + " for 'collect' (buffer N, skip_unreachable)"};
      }
    }
    file().collects.push_back(std::move(c));
    current_mote_ = nullptr;
    current_section_ = nullptr;
  }

  // "mote 3", or "motes 1-19" inside a section, for messages.
  std::string part_name(const MotePart& p) const {
    if (current_section_ != nullptr) return "motes " + current_section_->motes.text;
    return "mote " + std::to_string(p.mote);
  }

  MotePart& part(const char* what) {
    if (file().queries.empty()) {
      throw LineError{std::string(what) + " outside a query; begin one with 'query ID'"};
    }
    if (current_mote_ == nullptr) {
      throw LineError{std::string(what) + " before 'on mote M': say which mote it runs on"};
    }
    return *current_mote_;
  }

  void stream(Words& words) {
    MotePart& p = part("a stream");
    StreamDecl s;
    s.line = line_;
    s.name = words.name("the stream name");
    words.expect("=", "after the stream name (stream NAME = KIND ...)");
    const std::string kind = words.take("the stream kind (sensor, local or remote)");
    if (kind == "sensor") {
      s.kind = StreamKind::sensor;
      s.sensor = sensor_by_name(words.take("the sensor name"));
      if (words.take_if("on_demand")) {
        s.on_demand = true;
        s.buffer = 0;
      } else {
        words.expect("every", "after the sensor (every SECONDS, or on_demand)");
        double every = words.number("the sampling period", 1 / TIMER_COUNTS_PER_SECOND, 3600);
        s.rate = static_cast<uint32_t>(std::lround(every * TIMER_COUNTS_PER_SECOND));
      }
    } else if (kind == "local") {
      s.kind = StreamKind::local;
    } else if (kind == "remote") {
      s.remote_name = static_cast<uint8_t>(words.integer("the remote stream number", 1, 255));
      s.kind = StreamKind::remote_in;
      s.rate = 100;
      if (words.take_if("to")) {
        s.kind = StreamKind::remote_out;
        s.to = words.mote("the mote the stream goes to");
        if (current_section_ == nullptr && s.to == p.mote) {
          throw LineError{"a remote stream to its own mote is the reading side: leave out 'to " +
                          std::to_string(s.to) + "'"};
        }
      }
    } else {
      throw LineError{"unknown stream kind " + quoted(kind) + "; it is sensor, local or remote"};
    }
    while (!words.done()) {
      const std::string option = words.take("an option");
      if (option == "buffer" && !s.on_demand) {
        s.buffer = static_cast<uint8_t>(words.integer("the buffer size", 1, 255));
      } else if (option == "reliable" && s.kind == StreamKind::remote_out) {
        s.reliable = true;
      } else if (option == "rate" && s.kind == StreamKind::remote_out) {
        s.rate = static_cast<uint32_t>(words.integer("the rate", 1, 4294967295));
      } else {
        throw LineError{"unknown option " + quoted(option) + " for a " + kind + " stream" +
                        (s.kind == StreamKind::remote_out ? " (buffer N, reliable, rate N)"
                         : s.on_demand                    ? " (on-demand streams take none)"
                                                          : " (buffer N)")};
      }
    }
    for (const StreamDecl& other : p.streams) {
      if (other.name == s.name) {
        throw LineError{"stream " + quoted(s.name) + " is already declared on " + part_name(p) +
                        " (line " + std::to_string(other.line) + ")"};
      }
    }
    p.streams.push_back(s);
  }

  void operation(const OpSyntax& syntax, Words& words) {
    MotePart& p = part(("'" + std::string(syntax.word) + "'").c_str());
    OperatorDecl o;
    o.line = line_;
    o.kind = syntax.kind;
    const std::string word = syntax.word;
    for (int i = 0; i < syntax.inputs; ++i) {
      if (words.peek() == "->" || words.done()) {
        throw LineError{"'" + word + "' reads " + (syntax.inputs == 1 ? "one stream" : "two streams") +
                        ": " + word + (syntax.inputs == 1 ? " INPUT" : " FIRST SECOND") +
                        (o.kind == OpKind::serial ? "" : " -> OUTPUT")};
      }
      o.inputs.push_back(words.name(syntax.inputs == 1 ? "the input stream"
                                    : i == 0           ? "the first input stream"
                                                       : "the second input stream"));
    }
    if (o.kind == OpKind::serial) {
      if (words.peek() == "->") {
        throw LineError{"serial sends to the host and has no output stream: write 'serial " +
                        o.inputs[0] + "'"};
      }
    } else {
      if (syntax.inputs == 2 && words.peek() != "->" && !words.done()) {
        throw LineError{"'" + word + "' reads exactly two streams; expected '->' after " +
                        quoted(o.inputs[1]) + ", found " + quoted(words.peek())};
      }
      if (syntax.inputs == 1 && !words.done() && words.peek() != "->") {
        throw LineError{"'" + word + "' reads one stream; expected '->' after " +
                        quoted(o.inputs[0]) + ", found " + quoted(words.peek())};
      }
      words.expect("->", "before the output stream (" + word + " INPUT -> OUTPUT)");
      o.output = words.name("the output stream");
    }
    options(o, words, word);
    p.operators.push_back(o);
  }

  void options(OperatorDecl& o, Words& words, const std::string& word) {
    bool have_where = false, have_fields = false, have_epochs = false;
    const bool pair = is_pair(o.kind);
    const bool window = is_window(o.kind);
    while (!words.done()) {
      const std::string option = words.take("an option");
      if (option == "where" && o.kind == OpKind::select_constant) {
        words.expect("field", "after 'where' (where field F OP VALUE)");
        o.field1 = words.field("the field");
        const std::string op = words.take("a comparison (= != > >= < <=)");
        auto code = predicate_code(op);
        if (!code) throw LineError{"unknown comparison " + quoted(op) + "; use = != > >= < <="};
        o.predicate = *code;
        if (words.take_if("field")) {
          o.kind = OpKind::select_fields;
          o.field2 = words.field("the second field");
        } else {
          o.constant = static_cast<uint8_t>(words.integer("the constant", 0, 255));
        }
        have_where = true;
      } else if (option == "fields" && (o.kind == OpKind::project || pair)) {
        if (pair) {
          // The pair aggregates keep the first ten bytes of a record.
          o.field1 = static_cast<uint8_t>(
              words.integer("the field of the first stream (pairs keep fields 0 to 4)", 0, 4));
          o.field2 = static_cast<uint8_t>(
              words.integer("the field of the second stream (pairs keep fields 0 to 4)", 0, 4));
        } else {
          o.field1 = words.field("the first field");
          if (!words.done() && std::isdigit(static_cast<unsigned char>(words.peek()[0]))) {
            o.field2 = words.field("the second field");
          }
        }
        have_fields = true;
      } else if (option == "field" && window) {
        // A window keeps the first ten bytes of its first record.
        o.field1 = static_cast<uint8_t>(
            words.integer("the field (windows keep fields 0 to 4)", 0, 4));
        have_fields = true;
      } else if (option == "epochs" && window) {
        o.epochs = static_cast<uint8_t>(words.integer("the window length in epochs", 1, 255));
        have_epochs = true;
      } else if (option == "count_byte" && (o.kind == OpKind::pair_avg || o.kind == OpKind::pair_sum)) {
        o.count_byte = static_cast<uint8_t>(words.integer("the count byte", 0, 9));
      } else if (option == "mark_field" && (o.kind == OpKind::pair_avg || o.kind == OpKind::pair_sum)) {
        o.mark_field = words.field("the mark field");
      } else if (option == "read" && !pair && !window) {
        o.read_fields = static_cast<uint8_t>(words.integer("the number of fields read", 1, 10));
      } else {
        throw LineError{"unknown option " + quoted(option) + " for '" + word + "'" + usage(o.kind)};
      }
    }
    if (o.kind == OpKind::select_constant && !have_where) {
      throw LineError{"'select' needs a condition: where field F OP VALUE (or OP field G)"};
    }
    if (o.kind == OpKind::project && !have_fields) {
      throw LineError{"'project' needs the fields it keeps: fields F [G]"};
    }
    if (pair && !have_fields) {
      throw LineError{"'" + word + "' needs the value field of each stream: fields F G"};
    }
    if (window && (!have_fields || !have_epochs)) {
      throw LineError{"'" + word + "' needs the field and the window: field F epochs N"};
    }
  }

  static std::string usage(OpKind kind) {
    switch (kind) {
      case OpKind::select_constant:
      case OpKind::select_fields: return " (where field F OP VALUE, read N)";
      case OpKind::project: return " (fields F [G], read N)";
      case OpKind::pair_avg:
      case OpKind::pair_sum: return " (fields F G, count_byte B, mark_field F)";
      case OpKind::pair_max:
      case OpKind::pair_min: return " (fields F G)";
      case OpKind::window_avg:
      case OpKind::window_max:
      case OpKind::window_min: return " (field F, epochs N)";
      default: return " (read N)";
    }
  }

  ParseResult result_;
  int line_ = 0;
  MotePart* current_mote_ = nullptr;
  MoteSection* current_section_ = nullptr;  // the last of file().sections, while filled
};

}  // namespace

std::string format(const Diagnostic& d) {
  if (d.line == 0) return d.file + ": " + d.text;  // about the file as a whole
  return d.file + ":" + std::to_string(d.line) + ": " + d.text;
}

const char* op_word(OpKind kind) {
  if (kind == OpKind::select_fields) return "select";
  for (const OpSyntax& s : op_syntax) {
    if (s.kind == kind) return s.word;
  }
  return "?";
}

std::optional<uint8_t> sensor_id(std::string_view name) {
  if (const protocol::SensorInfo* s = protocol::sensor_by_name(name)) return s->id;
  return std::nullopt;
}
std::optional<uint8_t> sensor_adc_port(std::string_view name) {
  if (const protocol::SensorInfo* s = protocol::sensor_by_name(name)) return s->value_port;
  return std::nullopt;
}
const char* sensor_name(uint8_t id) {
  const protocol::SensorInfo* s = protocol::sensor_by_id(id);
  return s != nullptr ? s->name : "sensor";
}

ParseResult parse(std::string_view text, const std::string& name) {
  Parser parser(name);
  int number = 0;
  while (!text.empty()) {
    std::size_t end = text.find('\n');
    std::string_view line = text.substr(0, end);
    parser.line(line, ++number);
    if (end == std::string_view::npos) break;
    text.remove_prefix(end + 1);
  }
  return parser.take();
}

namespace {
std::vector<Diagnostic> parse_setting(std::string_view text, const std::string& origin,
                                      QueryFile& file, bool adc) {
  std::vector<Diagnostic> errors;
  // Several settings may be given at once, separated by ';'.
  int number = 0;
  while (true) {
    std::size_t end = text.find(';');
    std::string_view one = text.substr(0, end);
    ++number;
    Parser parser(origin);
    parser.at_line(number);
    Words words(tokenize(one));
    try {
      if (adc) {
        parser.adc_words(words);
      } else {
        parser.link_words(words);
      }
    } catch (const LineError& error) {
      parser.fail(error.text);
    }
    ParseResult r = parser.take();
    for (auto& e : r.errors) errors.push_back(e);
    for (auto& a : r.file.adc) file.adc.push_back(a);
    for (auto& l : r.file.links) file.links.push_back(l);
    if (r.file.random_adc) file.random_adc = true;
    if (end == std::string_view::npos) break;
    text.remove_prefix(end + 1);
  }
  return errors;
}
}  // namespace

std::vector<Diagnostic> parse_adc_option(std::string_view text, const std::string& origin,
                                         QueryFile& file) {
  return parse_setting(text, origin, file, true);
}
std::vector<Diagnostic> parse_link_option(std::string_view text, const std::string& origin,
                                          QueryFile& file) {
  return parse_setting(text, origin, file, false);
}

}  // namespace query_file

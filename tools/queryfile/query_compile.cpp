#include "queryfile/query_compile.hpp"

#include <algorithm>
#include <cmath>
#include <fstream>
#include <map>
#include <set>

#include "protocol/limits.hpp"
#include "queryfile/channel_use.hpp"
#include "queryfile/mote_sections.hpp"

namespace query_file {
namespace {
using namespace protocol;
namespace om = operator_messages;

// The motes' table sizes: stream opens and operators a mote holds, streams of
// one kind, remote opens one start can have pending, streams with reads.
constexpr int OPEN_TABLE = protocol::OPEN_ENTRIES;
constexpr int OPERATOR_TABLE = protocol::OPERATOR_ENTRIES;
constexpr int STREAMS_OF_A_KIND = protocol::STREAM_ENTRIES;
constexpr int REMOTE_OPENS = protocol::OPEN_REQUESTS;

std::string quoted(const std::string& word) { return "'" + word + "'"; }
std::string mote_text(uint16_t mote) { return "mote " + std::to_string(mote); }

const char* kind_name(StreamKind kind) {
  switch (kind) {
    case StreamKind::sensor: return "sensor";
    case StreamKind::local: return "local";
    case StreamKind::remote_out: return "sending remote";
    case StreamKind::remote_in: return "receiving remote";
  }
  return "";
}

bool is_join(OpKind k) { return k == OpKind::sync_join || k == OpKind::merge_join; }

// What a mote holds at one moment, followed through the file's queries.
struct LiveStream {
  uint8_t query;
  const StreamDecl* decl;
  int index;
};
struct LiveReader {
  uint8_t query;
  int index;  // open-table index read
  int line;
  std::string word;
};
struct MoteState {
  std::array<uint8_t, OPEN_TABLE> opens{};          // query owning each entry; 0 free
  std::array<uint8_t, OPERATOR_TABLE> operators{};  // likewise
  int serial_entry = -1;                            // the one SERIAL_SEND, if any
  std::vector<LiveStream> streams;
  std::vector<LiveReader> readers;                  // operators other than mirror
};

// A stream as one query's operators on one mote see it.
struct Bound {
  const StreamDecl* decl = nullptr;
  int index = -1;
};

class Compiler {
 public:
  // `file` has its sections expanded; `errors` are those of the expansion,
  // `section_lines` the lines the sections covered.
  Compiler(const QueryFile& file, int64_t origin, std::vector<Diagnostic> errors,
           std::set<int> section_lines, const Connectivity& links)
      : file_(file), origin_(origin), section_lines_(std::move(section_lines)), links_(links) {
    result_.errors = std::move(errors);
  }

  CompileResult run() {
    settings();
    std::vector<std::pair<double, int>> order;  // (time, query index); stops sort first
    for (std::size_t i = 0; i < file_.queries.size(); ++i) {
      order.emplace_back(file_.queries[i].at, static_cast<int>(i) + 1);
      if (file_.queries[i].stop_at) order.emplace_back(*file_.queries[i].stop_at, -static_cast<int>(i) - 1);
    }
    std::stable_sort(order.begin(), order.end(), [](auto& a, auto& b) {
      if (a.first != b.first) return a.first < b.first;
      return a.second < b.second;  // stops (negative) before installs
    });
    for (auto [time, which] : order) {
      if (which > 0) {
        install(file_.queries[which - 1]);
      } else {
        stop(file_.queries[-which - 1]);
      }
    }
    remote_ends();
    unused_streams();
    result_.plan.results = result_layouts(file_, origin_, result_.errors);
    if (result_.plan.results.empty() && !file_.queries.empty()) {
      result_.warnings.push_back({file_.name, file_.queries.front().line,
                                  "no query has a 'serial' on mote 0: no results will reach the host"});
    }
    std::stable_sort(result_.plan.messages.begin(), result_.plan.messages.end(),
                     [](const TimedMessage& a, const TimedMessage& b) { return a.time < b.time; });
    std::stable_sort(result_.plan.results.begin(), result_.plan.results.end(),
                     [](const ResultLayout& a, const ResultLayout& b) { return a.from < b.from; });
    for (ResultLayout& r : result_.plan.results) {
      r.start_message = message_index(0, r.query, protocol::CODE_START_QUERY);
      r.stop_message = message_index(0, r.query, protocol::CODE_STOP_QUERY);
    }
    std::stable_sort(result_.errors.begin(), result_.errors.end(),
                     [](const Diagnostic& a, const Diagnostic& b) { return a.line < b.line; });
    fold_per_mote(result_.errors, section_lines_);
    fold_per_mote(result_.warnings, section_lines_);
    return std::move(result_);
  }

 private:
  // The first message of `code` for `query` on `mote`; -1 when there is none.
  int message_index(uint16_t mote, uint8_t query, uint8_t code) const {
    const std::vector<TimedMessage>& messages = result_.plan.messages;
    for (std::size_t i = 0; i < messages.size(); ++i) {
      const TimedMessage& m = messages[i];
      if (m.to == mote && m.message.query_id == query && m.message.msg_type == code) {
        return static_cast<int>(i);
      }
    }
    return -1;
  }

  void error(int line, std::string text) {
    result_.errors.push_back({file_.name, line, std::move(text)});
  }
  int64_t ticks(double seconds) const {
    return origin_ + static_cast<int64_t>(std::llround(seconds * TICKS_PER_SECOND));
  }

  // Network size, time limit and the settings made before the run.
  void settings() {
    Plan& plan = result_.plan;
    plan.motes = network_size(file_);
    plan.until = file_.until.value_or(30);
    plan.seed = file_.seed.value_or(1);
    plan.random_adc = file_.random_adc;
    for (const QueryDecl& q : file_.queries) {
      if (q.at < BOOT_WINDOW) {
        error(q.line, "query " + std::to_string(q.id) + " is installed at " + number(q.at) +
                          " s, while the motes are still booting; install it at " +
                          number(BOOT_WINDOW) + " s or later");
      }
      if (q.at >= plan.until) {
        error(q.line, "query " + std::to_string(q.id) + " is installed at " + number(q.at) +
                          " s, but the run ends at " + number(plan.until) + " s (see 'until')");
      }
      for (const MotePart& p : q.motes) {
        check_mote(p.line, p.mote);
        if (p.streams.empty() && p.operators.empty()) {
          error(p.line, mote_text(p.mote) + " of query " + std::to_string(q.id) +
                            " has no streams or operators");
        }
      }
      if (q.motes.empty()) error(q.line, "query " + std::to_string(q.id) + " installs nothing; add 'on mote M' and its streams and operators");
    }
    for (const AdcSetting& a : file_.adc) {
      if (std::string caution = adc_value_caution(a.value); !caution.empty()) {
        result_.warnings.push_back({a.source, a.line, caution});
      }
      if (a.all) {
        for (int m = 0; m < plan.motes; ++m) plan.adc.push_back({static_cast<uint16_t>(m), a.port, a.value});
        continue;
      }
      for (uint16_t m : a.motes) {
        if (check_mote(a.line, m)) plan.adc.push_back({m, a.port, a.value});
      }
    }
    for (const LinkSetting& l : file_.links) {
      if (check_mote(l.line, l.from) && check_mote(l.line, l.to)) plan.links.push_back(l);
    }
  }

  bool check_mote(int line, uint16_t mote) {
    if (mote < result_.plan.motes) return true;
    error(line, mote_text(mote) + " is not in the network of " +
                    std::to_string(result_.plan.motes) + " motes (0 to " +
                    std::to_string(result_.plan.motes - 1) + ")" +
                    (file_.motes_line > 0
                         ? "; raise 'motes' on line " + std::to_string(file_.motes_line)
                         : std::string()));
    return false;
  }

  static std::string number(double value) {
    char text[32];
    std::snprintf(text, sizeof text, "%g", value);
    return text;
  }

  // Appends a message at the query's cursor and moves the cursor on.
  void emit(int64_t& cursor, uint16_t to, const OperatorMsg& m, int line,
            PlannedEntry planned = {}) {
    // A mote mote 0 cannot reach is handed its messages directly.
    const bool direct = to != 0 && !links_.good(0, to);
    result_.plan.messages.push_back({cursor, to, m, line, planned, direct});
    // Forwarded messages queue behind each other on mote 0's radio, across
    // queries too; this is when the message is expected to have left.
    if (to != 0 && !direct) forwarded_until_ = std::max(forwarded_until_, cursor) + FORWARD_SPACING;
    if (direct && m.msg_type == CODE_START_QUERY) {
      forwarded_until_ = std::max(forwarded_until_, cursor) + DIRECT_START_GAP;
    }
    cursor += 1;
  }
  // When the messages emitted so far are expected to have gone out.
  int64_t expected_end(int64_t cursor) const { return std::max(cursor, forwarded_until_); }

  void install(const QueryDecl& q) {
    int64_t cursor = ticks(q.at);
    for (const MotePart& p : q.motes) install_part(q, p, cursor);
    for (const ChannelUse::Overflow& o : channels_.overflows()) error(o.line, o.text);
    // Motes that read remote streams start first, so that they are ready
    // when the records of the other motes come.
    std::vector<const MotePart*> starts;
    for (const MotePart& p : q.motes) starts.push_back(&p);
    std::stable_partition(starts.begin(), starts.end(), [](const MotePart* p) {
      return std::any_of(p->streams.begin(), p->streams.end(),
                         [](const StreamDecl& s) { return s.kind == StreamKind::remote_in; });
    });
    for (const MotePart* p : starts) {
      emit(cursor, p->mote, om::message(q.id, CODE_START_QUERY), q.line);
    }
    // Messages due after the end of the run are never sent.
    const int64_t end = ticks(result_.plan.until);
    const int64_t done = expected_end(cursor);
    if (!starts.empty() && q.at < result_.plan.until && done >= end) {
      error(q.line, "query " + std::to_string(q.id) + " is still being installed when the run "
                        "ends at " + number(result_.plan.until) + " s: its last message goes out at " +
                        number(static_cast<double>(done - origin_) / TICKS_PER_SECOND) +
                        " s at the earliest (mote 0's radio forwards a message to another mote in " +
                        number(static_cast<double>(FORWARD_SPACING) / TICKS_PER_SECOND) +
                        " s at best); raise 'until' or install it earlier");
    }
    if (q.stop_at && done >= ticks(*q.stop_at)) {
      error(q.stop_line, "query " + std::to_string(q.id) + " is still being installed at " +
                             number(*q.stop_at) + " s; stop it later");
    }
  }

  void stop(const QueryDecl& q) {
    int64_t cursor = ticks(*q.stop_at);
    channels_.stop(q.id);
    for (const MotePart& p : q.motes) {
      emit(cursor, p.mote, om::message(q.id, CODE_STOP_QUERY), q.stop_line);
      MoteState& m = motes_[p.mote];
      for (uint8_t& owner : m.opens) {
        if (owner == q.id) owner = 0;
      }
      for (int i = 0; i < OPERATOR_TABLE; ++i) {
        if (m.operators[i] != q.id) continue;
        m.operators[i] = 0;
        if (m.serial_entry == i) m.serial_entry = -1;
      }
      std::erase_if(m.streams, [&](const LiveStream& s) { return s.query == q.id; });
      std::erase_if(m.readers, [&](const LiveReader& r) { return r.query == q.id; });
    }
  }

  void install_part(const QueryDecl& q, const MotePart& p, int64_t& cursor) {
    MoteState& m = motes_[p.mote];
    std::map<std::string, Bound> bound;
    int remote_opens = 0;
    for (const StreamDecl& s : p.streams) {
      Bound b{&s, -1};
      if (!open_stream(q, p, m, s, remote_opens, b.index)) continue;
      bound[s.name] = b;
      if (s.kind == StreamKind::remote_out && s.to < result_.plan.motes) {
        channels_.open(q.id, p.mote, s.to, s.line);
      }
      PlannedEntry planned{PlannedEntry::Table::opens, b.index, s.kind, s.to};
      emit(cursor, p.mote, open_message(q.id, p.mote, s), s.line, planned);
    }
    std::set<int> written;
    for (const OperatorDecl& o : p.operators) {
      if (!o.output.empty()) {
        auto found = bound.find(o.output);
        if (found != bound.end()) written.insert(found->second.index);
      }
    }
    for (const OperatorDecl& o : p.operators) install_operator(q, p, m, o, bound, cursor);
    // Streams read with no operator writing them: locals only get records
    // from operators of the same mote.
    for (const StreamDecl& s : p.streams) {
      if (s.kind != StreamKind::local) continue;
      auto b = bound.find(s.name);
      if (b == bound.end()) continue;
      bool read = std::any_of(p.operators.begin(), p.operators.end(), [&](const OperatorDecl& o) {
        return std::find(o.inputs.begin(), o.inputs.end(), s.name) != o.inputs.end();
      });
      if (read && written.count(b->second.index) == 0) {
        error(s.line, "local stream " + quoted(s.name) + " is read but no operator on " +
                          mote_text(p.mote) + " writes to it");
      }
    }
    reads_outstanding(q, p, m);
  }

  bool open_stream(const QueryDecl& q, const MotePart& p, MoteState& m, const StreamDecl& s,
                   int& remote_opens, int& index) {
    auto free_entry = std::find(m.opens.begin(), m.opens.end(), 0);
    if (free_entry == m.opens.end()) {
      error(s.line, mote_text(p.mote) + " has no room for stream " + quoted(s.name) +
                        ": a mote holds " + std::to_string(OPEN_TABLE) + " stream opens at a time");
      return false;
    }
    int same_kind = 0;
    for (const LiveStream& live : m.streams) {
      if (live.decl->kind != s.kind) continue;
      ++same_kind;
      if (s.kind == StreamKind::sensor && live.decl->sensor == s.sensor) {
        error(s.line, "sensor " + std::string(sensor_name(s.sensor)) + " is already streamed on " +
                          mote_text(p.mote) + " (line " + std::to_string(live.decl->line) +
                          "); a sensor feeds one stream of a mote");
        return false;
      }
      if ((s.kind == StreamKind::remote_in || s.kind == StreamKind::remote_out) &&
          live.decl->remote_name == s.remote_name) {
        error(s.line, "remote stream " + std::to_string(s.remote_name) + " is already open on " +
                          mote_text(p.mote) + " (line " + std::to_string(live.decl->line) +
                          "); use another number");
        return false;
      }
    }
    if (same_kind >= STREAMS_OF_A_KIND) {
      error(s.line, mote_text(p.mote) + " has no room for another " + kind_name(s.kind) +
                        " stream: a mote holds " + std::to_string(STREAMS_OF_A_KIND) +
                        " of each kind");
      return false;
    }
    if (s.kind == StreamKind::remote_in || s.kind == StreamKind::remote_out) {
      if (++remote_opens > REMOTE_OPENS) {
        error(s.line, "query " + std::to_string(q.id) + " opens more than " +
                          std::to_string(REMOTE_OPENS) + " remote streams on " + mote_text(p.mote));
        return false;
      }
    }
    *free_entry = q.id;
    index = static_cast<int>(free_entry - m.opens.begin());
    m.streams.push_back({q.id, &s, index});
    return true;
  }

  // A remote open names the mote at the far end on the sending side, and the
  // mote itself on the reading side (which is how the engine tells them apart).
  static OperatorMsg open_message(uint8_t query, uint16_t mote, const StreamDecl& s) {
    switch (s.kind) {
      case StreamKind::sensor:
        return om::sensor_open(query, s.sensor, s.rate, s.on_demand ? ON_DEMAND : PERIODIC,
                               s.buffer);
      case StreamKind::local: return om::local_open(query, s.buffer);
      case StreamKind::remote_out:
      case StreamKind::remote_in: {
        uint16_t dest = s.kind == StreamKind::remote_out ? s.to : mote;
        OperatorMsg m = om::remote_open(query, s.remote_name, dest, s.buffer);
        m.stream_rate = s.rate;
        m.reliability = s.reliable ? 1 : 0;
        return m;
      }
    }
    return om::message(query, 0);
  }

  // The open-table index of a stream the operator reads, after checking it
  // can be read; -1 when not.
  int input(const MotePart& p, const OperatorDecl& o, const std::map<std::string, Bound>& bound,
            const std::string& name, bool inner_of_join) {
    auto found = bound.find(name);
    if (found == bound.end()) {
      unknown(p, o, name);
      return -1;
    }
    const StreamDecl& s = *found->second.decl;
    if (s.kind == StreamKind::remote_out) {
      error(o.line, quoted(name) + " is the sending side of remote stream " +
                        std::to_string(s.remote_name) + " (it goes to " + mote_text(s.to) +
                        "); it cannot be read here");
      return -1;
    }
    if (s.kind == StreamKind::sensor && s.on_demand && !inner_of_join) {
      error(o.line, "on-demand stream " + quoted(name) +
                        " is sampled only when read by a join; as the input of '" +
                        op_word(o.kind) + "' it would never deliver (sample it 'every SECONDS')");
      return -1;
    }
    return found->second.index;
  }

  int output(const MotePart& p, const OperatorDecl& o, const std::map<std::string, Bound>& bound) {
    auto found = bound.find(o.output);
    if (found == bound.end()) {
      unknown(p, o, o.output);
      return -1;
    }
    const StreamDecl& s = *found->second.decl;
    if (s.kind == StreamKind::sensor) {
      error(o.line, quoted(o.output) + " is a sensor stream; operators cannot write to it");
      return -1;
    }
    if (s.kind == StreamKind::remote_in) {
      error(o.line, quoted(o.output) + " is the receiving side of remote stream " +
                        std::to_string(s.remote_name) + "; write to a sending side ('remote " +
                        std::to_string(s.remote_name) + " to MOTE') or a local stream");
      return -1;
    }
    return found->second.index;
  }

  void unknown(const MotePart& p, const OperatorDecl& o, const std::string& name) {
    // Declared, but refused (the error is already reported)?
    for (const StreamDecl& s : p.streams) {
      if (s.name == name) return;
    }
    error(o.line, "unknown stream " + quoted(name) + " on " + mote_text(p.mote) +
                      " (declare it there with 'stream " + name + " = ...')");
  }

  // Takes `count` operator entries (lowest free first); the serial output
  // replaces the mote's existing one. False when there is no room.
  bool take_operator_entries(MoteState& m, const QueryDecl& q, const MotePart& p,
                             const OperatorDecl& o, int count, std::vector<int>& taken) {
    if (o.kind == OpKind::serial && m.serial_entry >= 0) {
      m.operators[m.serial_entry] = q.id;
      taken.push_back(m.serial_entry);
      return true;
    }
    for (int i = 0; i < OPERATOR_TABLE && static_cast<int>(taken.size()) < count; ++i) {
      if (m.operators[i] == 0) taken.push_back(i);
    }
    if (static_cast<int>(taken.size()) < count) {
      error(o.line, mote_text(p.mote) + " has no room for '" + op_word(o.kind) +
                        "': a mote holds " + std::to_string(OPERATOR_TABLE) + " operators" +
                        (count == 2 ? " and this one takes two" : ""));
      return false;
    }
    for (int i : taken) m.operators[i] = q.id;
    if (o.kind == OpKind::serial) m.serial_entry = taken[0];
    return true;
  }

  // Only the first operator reading a stream runs on each of its records
  // (mirrors aside), so a second reader would never see anything.
  bool claim_reader(MoteState& m, const QueryDecl& q, const OperatorDecl& o, int index,
                    const std::string& name) {
    for (const LiveReader& r : m.readers) {
      if (r.index != index) continue;
      error(o.line, "stream " + quoted(name) + " is already read by '" + r.word + "' (line " +
                        std::to_string(r.line) + "); only the first operator reading a stream " +
                        "runs on its records (mirror aside): read a mirror of it instead");
      return false;
    }
    m.readers.push_back({q.id, index, o.line, op_word(o.kind)});
    return true;
  }

  void install_operator(const QueryDecl& q, const MotePart& p, MoteState& m, const OperatorDecl& o,
                        const std::map<std::string, Bound>& bound, int64_t& cursor) {
    const uint8_t id = q.id;
    const bool two_inputs = o.inputs.size() == 2;
    int in1 = input(p, o, bound, o.inputs[0], false);
    int in2 = two_inputs ? input(p, o, bound, o.inputs[1], is_join(o.kind)) : -1;
    int out = -1;
    if (o.kind != OpKind::serial) out = output(p, o, bound);
    if (in1 < 0 || (two_inputs && in2 < 0) || (o.kind != OpKind::serial && out < 0)) return;
    if (two_inputs && in1 == in2) {
      error(o.line, "'" + std::string(op_word(o.kind)) + "' needs two different streams, not " +
                        quoted(o.inputs[0]) + " twice");
      return;
    }
    if (out >= 0 && (in1 == out || in2 == out)) {
      error(o.line, "'" + std::string(op_word(o.kind)) + "' would write to the stream it reads (" +
                        quoted(o.output) + ")");
      return;
    }
    if (o.kind == OpKind::merge_join) merge_join_rates(o, bound);
    if (o.kind == OpKind::serial && p.mote != 0) {
      error(o.line, "'serial' sends results out of mote 0's serial port; it only runs on mote 0 "
                    "(send the records there over a remote stream)");
      return;
    }
    if (o.kind == OpKind::pair_sum) {
      // The partial-average halves find each other by kind alone.
      for (const LiveReader& r : m.readers) {
        if (r.word == "sum") {
          error(o.line, mote_text(p.mote) + " already has a 'sum' (line " +
                            std::to_string(r.line) + "); a mote runs one at a time");
          return;
        }
      }
    }
    if (o.kind == OpKind::mirror) {
      bool other_reader = std::any_of(p.operators.begin(), p.operators.end(), [&](const OperatorDecl& x) {
        return x.kind != OpKind::mirror && !x.inputs.empty() && x.inputs[0] == o.inputs[0];
      });
      if (!other_reader) {
        error(o.line, "'mirror' copies the records another operator reads from " +
                          quoted(o.inputs[0]) + "; with no other operator reading it, it would"
                          " copy the first record only");
        return;
      }
    } else {
      if (!claim_reader(m, q, o, in1, o.inputs[0])) return;
      if (two_inputs && !claim_reader(m, q, o, in2, o.inputs[1])) return;
    }
    std::vector<int> taken;
    if (!take_operator_entries(m, q, p, o, two_inputs ? 2 : 1, taken)) return;
    std::size_t next_entry = 0;
    // Emits the operator message installing `kind` into the next entry taken.
    auto emit_op = [&](const OperatorMsg& msg, operator_type kind) {
      PlannedEntry planned{PlannedEntry::Table::operators, taken[next_entry++]};
      planned.kind = kind;
      emit(cursor, p.mote, msg, o.line, planned);
    };

    auto basic = [&](operator_type kind) {
      OperatorMsg msg = om::op(id, om::install_code(kind), static_cast<int8_t>(in1),
                               static_cast<int8_t>(out), o.read_fields);
      msg.field1 = o.field1;
      msg.field2 = o.field2;
      return msg;
    };
    switch (o.kind) {
      case OpKind::select_constant:
      case OpKind::select_fields: {
        const operator_type kind = o.kind == OpKind::select_constant ? SELECT_C : SELECT_F;
        OperatorMsg msg = basic(kind);
        msg.predicate = o.predicate;
        msg.constant = o.constant;
        emit_op(msg, kind);
        break;
      }
      case OpKind::project: emit_op(basic(PROJECTION), PROJECTION); break;
      case OpKind::send: emit_op(basic(SEND), SEND); break;
      case OpKind::mirror: emit_op(basic(MIRROR), MIRROR); break;
      case OpKind::serial: emit_op(basic(SERIAL_SEND), SERIAL_SEND); break;
      case OpKind::sync_join:
      case OpKind::merge_join: {
        const bool sync = o.kind == OpKind::sync_join;
        // The outer half drives the join and writes nothing; the inner half
        // writes the joined records.
        OperatorMsg outer = basic(sync ? SYNC_JOIN_O : MERGE_JOIN_O);
        outer.stream_input2 = static_cast<int8_t>(in2);
        outer.stream_output = -1;
        OperatorMsg inner = om::op(id, om::install_code(sync ? SYNC_JOIN_I : MERGE_JOIN_I),
                                   static_cast<int8_t>(in2), static_cast<int8_t>(out),
                                   o.read_fields);
        inner.stream_input2 = static_cast<int8_t>(in1);
        emit_op(outer, sync ? SYNC_JOIN_O : MERGE_JOIN_O);
        emit_op(inner, sync ? SYNC_JOIN_I : MERGE_JOIN_I);
        break;
      }
      case OpKind::pair_avg:
      case OpKind::pair_sum:
      case OpKind::pair_max:
      case OpKind::pair_min: {
        operator_type first = AVG_1, second = AVG_2;
        if (o.kind == OpKind::pair_sum) first = AVG_P1, second = AVG_P2;
        if (o.kind == OpKind::pair_max || o.kind == OpKind::pair_min) first = MAX_MIN_1, second = MAX_MIN_2;
        for (int half = 0; half < 2; ++half) {
          const operator_type kind = half == 0 ? first : second;
          OperatorMsg msg = basic(kind);
          msg.stream_input1 = static_cast<int8_t>(half == 0 ? in1 : in2);
          msg.stream_input2 = static_cast<int8_t>(half == 0 ? in2 : in1);
          msg.numfields = 0;
          if (o.kind == OpKind::pair_min) msg.constant = 1;  // 1 selects the minimum here
          if (o.kind == OpKind::pair_avg || o.kind == OpKind::pair_sum) {
            msg.constant2 = o.mark_field;
            msg.constant3 = o.count_byte;
          }
          emit_op(msg, kind);
        }
        break;
      }
      case OpKind::window_avg:
      case OpKind::window_max:
      case OpKind::window_min: {
        const operator_type kind = o.kind == OpKind::window_avg ? AVG_T : MAX_MIN_T;
        OperatorMsg msg = basic(kind);
        msg.numfields = 0;
        msg.field2 = NO_FIELD;
        if (o.kind == OpKind::window_max) msg.constant = 1;  // 1 selects the maximum here
        msg.constant2 = o.epochs;
        emit_op(msg, kind);
        break;
      }
    }
  }

  // A merge join only ever reads ahead on its inner stream: an outer
  // stream sampled faster than the inner one falls behind for good.
  void merge_join_rates(const OperatorDecl& o, const std::map<std::string, Bound>& bound) {
    const StreamDecl& outer = *bound.at(o.inputs[0]).decl;
    const StreamDecl& inner = *bound.at(o.inputs[1]).decl;
    bool periodic = outer.kind == StreamKind::sensor && inner.kind == StreamKind::sensor &&
                    !outer.on_demand && !inner.on_demand;
    if (!periodic || outer.rate >= inner.rate) return;
    error(o.line, "'merge_join' reads ahead only on its inner stream; with " + quoted(o.inputs[0]) +
                      " sampled more often than " + quoted(o.inputs[1]) +
                      " it would fall behind for good: name the slower stream first");
  }

  void reads_outstanding(const QueryDecl& q, const MotePart& p, const MoteState& m) {
    std::set<int> read;
    for (const LiveReader& r : m.readers) read.insert(r.index);
    if (static_cast<int>(read.size()) > READ_REQUESTS) {
      error(p.line, mote_text(p.mote) + " would read " + std::to_string(read.size()) +
                        " streams at once with query " + std::to_string(q.id) + "; a mote reads at most " +
                        std::to_string(READ_REQUESTS));
    }
  }

  // Each sending side needs a reading side on its mote, and the other way round.
  void remote_ends() {
    struct End {
      uint8_t name;
      uint16_t mote;  // where it is read
      int line;
    };
    std::vector<End> senders, readers;
    for (const QueryDecl& q : file_.queries) {
      for (const MotePart& p : q.motes) {
        for (const StreamDecl& s : p.streams) {
          if (s.kind == StreamKind::remote_out) senders.push_back({s.remote_name, s.to, s.line});
          if (s.kind == StreamKind::remote_in) readers.push_back({s.remote_name, p.mote, s.line});
        }
      }
    }
    for (const End& s : senders) {
      bool found = std::any_of(readers.begin(), readers.end(), [&](const End& r) {
        return r.name == s.name && r.mote == s.mote;
      });
      if (!found && s.mote < result_.plan.motes) {
        error(s.line, "remote stream " + std::to_string(s.name) + " goes to " + mote_text(s.mote) +
                          ", but no query reads it there (add 'stream NAME = remote " +
                          std::to_string(s.name) + "' under 'on mote " + std::to_string(s.mote) + "')");
      }
    }
    for (const End& r : readers) {
      bool found = std::any_of(senders.begin(), senders.end(), [&](const End& s) {
        return r.name == s.name && r.mote == s.mote;
      });
      if (!found) {
        error(r.line, "nothing sends remote stream " + std::to_string(r.name) + " to " +
                          mote_text(r.mote) + " (another mote needs 'stream NAME = remote " +
                          std::to_string(r.name) + " to " + std::to_string(r.mote) + "')");
      }
    }
  }

  void unused_streams() {
    for (const QueryDecl& q : file_.queries) {
      for (const MotePart& p : q.motes) {
        for (const StreamDecl& s : p.streams) {
          bool used = std::any_of(p.operators.begin(), p.operators.end(), [&](const OperatorDecl& o) {
            return o.output == s.name ||
                   std::find(o.inputs.begin(), o.inputs.end(), s.name) != o.inputs.end();
          });
          if (!used) {
            result_.warnings.push_back({file_.name, s.line,
                                        "stream " + quoted(s.name) + " on " + mote_text(p.mote) +
                                            " is not used by any operator"});
          }
        }
      }
    }
  }

  const QueryFile& file_;
  int64_t origin_;
  std::set<int> section_lines_;
  LinkTable links_;
  std::map<uint16_t, MoteState> motes_;
  ChannelUse channels_;
  int64_t forwarded_until_ = 0;  // see emit
  CompileResult result_;
};
}  // namespace

namespace {
// Reads the file's topology into the plan; its mistakes follow the file's own.
void check_topology(const QueryFile& file, CompileResult& result) {
  if (file.topology.empty()) return;
  if (!std::ifstream(file.topology)) {
    // Said where the file is named: the statement, or the runner's option.
    result.errors.push_back({file.topology_line > 0 ? file.name : std::string("--topology"),
                             file.topology_line, "cannot read the topology file " + file.topology});
    return;
  }
  topology::LossyRead read = topology::read_lossy_file(file.topology);
  std::vector<topology::FileError> errors = std::move(read.errors);
  for (auto& e : topology::motes_outside(read, file.topology, result.plan.motes)) {
    errors.push_back(std::move(e));
  }
  for (const topology::FileError& e : errors) result.errors.push_back({e.file, e.line, e.text});
  if (errors.empty()) {
    result.plan.topology = file.topology;
    result.plan.topology_links = std::move(read.links);
  }
}

}  // namespace

// What a `collect` plans over: the topology file's links when the file names
// one (a pair it leaves out does not hear itself; its mistakes are reported
// by check_topology), with the file's `link` statements added; else one
// radio cell.
Connectivity collect_links(const QueryFile& file) {
  Connectivity c = connectivity_of(file);
  if (file.topology.empty()) return c;
  c.unlisted_perfect = false;
  for (const topology::Link& l : topology::read_lossy_file(file.topology).links) {
    c.links.push_back({static_cast<uint16_t>(l.from), static_cast<uint16_t>(l.to), l.probability});
  }
  return c;
}
CompileResult compile(const QueryFile& file, int64_t origin, const Connectivity* links) {
  // Sections for several motes, then collections, become parts now that the
  // network size is settled.
  QueryFile whole = file;
  std::vector<Diagnostic> errors = expand_sections(whole);
  const Connectivity used = links ? *links : collect_links(file);
  CollectExpansion collected = expand_collects(whole, used);
  errors.insert(errors.end(), collected.errors.begin(), collected.errors.end());
  // A finding repeated for each mote of a tree is said once, like those of sections.
  std::set<int> per_mote_lines = section_lines(file);
  for (const CollectDecl& c : file.collects) per_mote_lines.insert(c.line);
  CompileResult result = Compiler(whole, origin, std::move(errors), std::move(per_mote_lines), used).run();
  result.plan.collects = std::move(collected.plans);
  result.warnings.insert(result.warnings.begin(), collected.warnings.begin(), collected.warnings.end());
  check_topology(file, result);
  return result;
}

}  // namespace query_file

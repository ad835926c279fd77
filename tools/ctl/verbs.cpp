#include "ctl/verbs.hpp"

#include <chrono>
#include <cmath>
#include <cstdio>
#include <functional>
#include <iostream>
#include <map>
#include <optional>
#include <set>

#include <unistd.h>

#include "control/client/control_client.hpp"
#include "control/wire/socket_io.hpp"
#include "ctl/arguments.hpp"
#include "ctl/event_format.hpp"
#include "ctl/variable_format.hpp"
#include "ctl/query_runner.hpp"

namespace brelo_ctl {
namespace {
using std::chrono::milliseconds;

constexpr const char* program = "brelo-ctl";

// The arguments of one verb: positional words and --options.
struct Invocation {
  uint16_t command_port = ctl::COMMAND_PORT;
  milliseconds timeout{5000};
  std::vector<std::string> words;
  std::map<std::string, std::string> options;  // "--json" -> "" for flags
  std::ostream* out = nullptr;
  std::ostream* err = nullptr;

  uint16_t event_port() const { return static_cast<uint16_t>(command_port + 1); }
  bool has(const std::string& option) const { return options.count(option) != 0; }
};

// A wrong command line: the message, then a pointer to the help.
struct UsageError {
  std::string text;
};

struct Verb {
  const char* name;
  const char* summary;
  const char* help;              // usage line and details
  std::set<std::string> flags;   // options without a value
  std::set<std::string> valued;  // options with a value
  std::size_t min_words;
  std::size_t max_words;
  std::function<int(Invocation&)> run;
};

int connection_failure(const Invocation& call, const ctl::ClientError& error, uint16_t port) {
  std::ostream& err = *call.err;
  switch (error.kind) {
    case ctl::ErrorKind::refused:
      err << program << ": no simulator is listening on 127.0.0.1:" << port
          << " (is brelo running? its ports can be moved with -port=, see --port)\n";
      return EXIT_NOT_RUNNING;
    case ctl::ErrorKind::closed:
      err << program << ": the simulator closed the connection"
          << " (it has ended, or already serves 4 clients on port " << port << ")\n";
      return EXIT_CONNECTION;
    case ctl::ErrorKind::timeout:
      err << program << ": the simulator did not answer on port " << port << " within "
          << call.timeout.count() / 1000.0 << " s\n";
      return EXIT_CONNECTION;
    default: err << program << ": " << error.text << "\n"; return EXIT_CONNECTION;
  }
}

// --- helpers shared by the verbs ---

struct Session {
  ctl::CommandClient client;
  int status = EXIT_DONE;
};

// Connects to the command port; on failure reports it and sets the status.
bool open_commands(Invocation& call, Session& session) {
  session.client.set_timeout(call.timeout);
  if (session.client.connect(call.command_port, call.timeout)) return true;
  session.status = connection_failure(call, session.client.error(), call.command_port);
  return false;
}

int failed(Invocation& call, Session& session) {
  return connection_failure(call, session.client.error(), call.command_port);
}

uint16_t parse_mote(const std::string& text) {
  auto mote = parse_integer(text, 0, 999);
  if (!mote) throw UsageError{"not a mote id (0 to 999): \"" + text + "\""};
  return static_cast<uint16_t>(*mote);
}

// When a command should act: --at (virtual seconds), --in (seconds from
// the simulator's current time), or now. Read before connecting, so that a
// wrong command line never reaches the simulator.
struct When {
  std::optional<double> at;
  std::optional<double> in;
};

When parse_when(Invocation& call) {
  When when;
  if (call.has("--at") && call.has("--in")) throw UsageError{"give --at or --in, not both"};
  if (call.has("--at")) {
    when.at = parse_number(call.options["--at"], 0, 1e12);
    if (!when.at)
      throw UsageError{"--at takes virtual seconds, not \"" + call.options["--at"] + "\""};
  }
  if (call.has("--in")) {
    when.in = parse_number(call.options["--in"], 0, 1e12);
    if (!when.in)
      throw UsageError{"--in takes virtual seconds, not \"" + call.options["--in"] + "\""};
  }
  return when;
}

// The command time in ticks (0: now); nullopt when asking the simulator for
// its current time failed.
std::optional<int64_t> command_time(const When& when, Session& session) {
  if (when.at) return seconds_to_ticks(*when.at);
  if (!when.in) return 0;
  // The mote-count reply carries the simulator's current time.
  auto count = session.client.get_mote_count();
  if (!count) return std::nullopt;
  return count->time + seconds_to_ticks(*when.in);
}

struct MoteChoice {
  std::vector<uint16_t> motes;
  bool all = false;
};

MoteChoice parse_mote_choice(const std::string& text) {
  MoteChoice choice;
  std::string why;
  auto motes = parse_motes(text, &choice.all, &why);
  if (!motes) throw UsageError{why};
  choice.motes = *motes;
  return choice;
}

// The motes chosen; "all" asks the simulator how many there are.
std::optional<std::vector<uint16_t>> mote_list(const MoteChoice& choice, Session& session) {
  if (!choice.all) return choice.motes;
  auto count = session.client.get_mote_count();
  if (!count) return std::nullopt;
  std::vector<uint16_t> every;
  for (uint16_t mote = 0; mote < count->totalMotes; ++mote) every.push_back(mote);
  return every;
}

// --- the verbs ---

int watch(Invocation& call) {
  std::optional<uint16_t> types;
  if (call.has("--types")) {
    std::string why;
    types = parse_event_mask(call.options["--types"], &why);
    if (!types) throw UsageError{why};
  }
  std::optional<int64_t> count;
  if (call.has("--count")) {
    count = parse_integer(call.options["--count"], 1, INT64_MAX);
    if (!count) throw UsageError{"--count takes a positive number"};
  }
  std::optional<ctl::Deadline> until;
  if (call.has("--seconds")) {
    auto seconds = parse_number(call.options["--seconds"], 0, 1e9);
    if (!seconds) throw UsageError{"--seconds takes a number of seconds"};
    until = ctl::IoClock::now() + std::chrono::duration_cast<ctl::IoClock::duration>(
                                      std::chrono::duration<double>(*seconds));
  }
  const bool json = call.has("--json");

  ctl::EventClient events;
  if (!events.connect(call.event_port(), call.timeout)) {
    return connection_failure(call, events.error(), call.event_port());
  }
  int64_t shown = 0;
  for (;;) {
    milliseconds wait(1000);
    if (until) {
      auto left = std::chrono::duration_cast<milliseconds>(*until - ctl::IoClock::now());
      if (left.count() <= 0) return EXIT_DONE;
      wait = std::min(wait, left);
    }
    std::optional<ctl::Event> event = events.next(wait);
    if (!event) {
      if (events.error().kind == ctl::ErrorKind::timeout) continue;  // nothing happened yet
      return connection_failure(call, events.error(), call.event_port());
    }
    if (types && (event->header.msgType & *types) == 0) continue;
    *call.out << (json ? event_json(*event) : event_line(*event)) << std::endl;
    if (count && ++shown >= *count) return EXIT_DONE;
  }
}

int info(Invocation& call) {
  ctl::EventClient events;
  if (!events.connect(call.event_port(), call.timeout)) {
    return connection_failure(call, events.error(), call.event_port());
  }
  std::optional<ctl::Event> event = events.next(call.timeout);
  if (!event) return connection_failure(call, events.error(), call.event_port());
  *call.out << (call.has("--json") ? event_json(*event) : event_line(*event)) << "\n";
  return EXIT_DONE;
}

int count(Invocation& call) {
  Session session;
  if (!open_commands(call, session)) return session.status;
  auto count = session.client.get_mote_count();
  if (!count) return failed(call, session);
  *call.out << count->totalMotes << "\n";
  return EXIT_DONE;
}

int switch_motes(Invocation& call, bool on) {
  MoteChoice choice = parse_mote_choice(call.words[0]);
  When when = parse_when(call);
  Session session;
  if (!open_commands(call, session)) return session.status;
  auto motes = mote_list(choice, session);
  if (!motes) return failed(call, session);
  auto time = command_time(when, session);
  if (!time) return failed(call, session);
  // Several motes travel in one batch, so they switch in one go.
  bool batch = motes->size() > 1;
  if (batch && !session.client.begin_batch()) return failed(call, session);
  for (uint16_t mote : *motes) {
    bool sent = on ? session.client.turn_on(mote, *time) : session.client.turn_off(mote, *time);
    if (!sent) return failed(call, session);
  }
  if (batch && !session.client.end_batch()) return failed(call, session);
  return EXIT_DONE;
}

VEX_Msg message_from_options(Invocation& call) {
  if (call.has("--raw")) {
    if (call.has("--data") || call.has("--text"))
      throw UsageError{"--raw replaces --data and --text"};
    std::string why;
    auto bytes = parse_hex(call.options["--raw"], &why);
    if (!bytes) throw UsageError{"--raw: " + why};
    if (bytes->size() > sizeof(VEX_Msg)) throw UsageError{"--raw: at most 112 bytes"};
    std::vector<uint8_t> record(sizeof(VEX_Msg), 0);
    std::copy(bytes->begin(), bytes->end(), record.begin());
    return ctl::from_bytes<ctl::RadioMsgSendCommand>(record).message;
  }
  std::vector<uint8_t> data;
  if (call.has("--data") && call.has("--text")) throw UsageError{"give --data or --text, not both"};
  if (call.has("--data")) {
    std::string why;
    auto bytes = parse_hex(call.options["--data"], &why);
    if (!bytes) throw UsageError{"--data: " + why};
    data = *bytes;
  } else if (call.has("--text")) {
    const std::string& text = call.options["--text"];
    data.assign(text.begin(), text.end());
  }
  if (data.size() > DATA_LENGTH) throw UsageError{"at most 96 data bytes"};
  uint16_t addr = VEX_BCAST_ADDR;
  if (call.has("--addr")) {
    auto value = parse_integer(call.options["--addr"], 0, 0xFFFF);
    if (!value) throw UsageError{"--addr takes an address from 0 to 65535"};
    addr = static_cast<uint16_t>(*value);
  }
  uint8_t type = 0;
  if (call.has("--type")) {
    auto value = parse_integer(call.options["--type"], 0, 255);
    if (!value) throw UsageError{"--type takes an active-message type from 0 to 255"};
    type = static_cast<uint8_t>(*value);
  }
  VEX_Msg message = ctl::make_message(addr, type, data);
  if (call.has("--length")) {
    auto value = parse_integer(call.options["--length"], 0, 255);
    if (!value) throw UsageError{"--length takes a number from 0 to 255"};
    message.length = static_cast<uint8_t>(*value);
  }
  return message;
}

int inject(Invocation& call, bool radio) {
  uint16_t mote = parse_mote(call.words[0]);
  VEX_Msg message = message_from_options(call);
  When when = parse_when(call);
  Session session;
  if (!open_commands(call, session)) return session.status;
  auto time = command_time(when, session);
  if (!time) return failed(call, session);
  bool sent = radio ? session.client.inject_radio(mote, message, *time)
                    : session.client.inject_uart(mote, message, *time);
  return sent ? EXIT_DONE : failed(call, session);
}

int link(Invocation& call) {
  uint16_t from = parse_mote(call.words[0]);
  uint16_t to = parse_mote(call.words[1]);
  auto probability = parse_number(call.words[2], 0, 1);
  if (!probability) throw UsageError{"the probability is a number from 0 to 1"};
  Session session;
  if (!open_commands(call, session)) return session.status;
  return session.client.set_link_probability(from, to, *probability) ? EXIT_DONE
                                                                     : failed(call, session);
}

int adc(Invocation& call) {
  uint16_t mote = parse_mote(call.words[0]);
  auto port = parse_integer(call.words[1], 0, 255);
  if (!port) throw UsageError{"the port is a number from 0 to 255"};
  auto value = parse_integer(call.words[2], 0, 65535);
  if (!value) throw UsageError{"the value is a number from 0 to 65535"};
  Session session;
  if (!open_commands(call, session)) return session.status;
  bool sent = session.client.set_adc_value(mote, static_cast<uint8_t>(*port),
                                           static_cast<uint16_t>(*value));
  return sent ? EXIT_DONE : failed(call, session);
}

int rate(Invocation& call) {
  auto factor = parse_number(call.words[0], 0, 4294967.295);
  if (!factor) throw UsageError{"the rate is a number from 0 to 4294967.295"};
  Session session;
  if (!open_commands(call, session)) return session.status;
  return session.client.set_rate(*factor) ? EXIT_DONE : failed(call, session);
}

int dbg_modes(Invocation& call) {
  std::string why;
  auto modes = parse_dbg_modes(call.words[0], &why);
  if (!modes) throw UsageError{why};
  Session session;
  if (!open_commands(call, session)) return session.status;
  return session.client.set_dbg(*modes) ? EXIT_DONE : failed(call, session);
}

int mask(Invocation& call) {
  std::string why;
  auto mask = parse_event_mask(call.words[0], &why);
  if (!mask) throw UsageError{why};
  Session session;
  if (!open_commands(call, session)) return session.status;
  return session.client.set_event_mask(*mask) ? EXIT_DONE : failed(call, session);
}

int interrupt(Invocation& call) {
  auto id = parse_integer(call.words[0], 0, UINT32_MAX);
  if (!id) throw UsageError{"the id is a number from 0 to 4294967295"};
  When when = parse_when(call);
  ctl::EventClient events;
  if (call.has("--wait")) {
    // Once the initial event is here, the simulator sends this client every
    // later event, the echo included.
    if (!events.connect(call.event_port(), call.timeout) || !events.next(call.timeout)) {
      return connection_failure(call, events.error(), call.event_port());
    }
  }
  Session session;
  if (!open_commands(call, session)) return session.status;
  auto time = command_time(when, session);
  if (!time) return failed(call, session);
  if (!session.client.interrupt(static_cast<uint32_t>(*id), *time)) return failed(call, session);
  if (!call.has("--wait")) return EXIT_DONE;
  // Other events (and other interrupts' echoes) pass by until ours comes.
  ctl::Deadline deadline = ctl::deadline_after(call.timeout);
  if (call.has("--at") || call.has("--in")) deadline = ctl::Deadline::max();
  for (;;) {
    auto left = std::chrono::duration_cast<milliseconds>(deadline - ctl::IoClock::now());
    if (left.count() <= 0) {
      *call.err << program << ": no echo of interrupt " << *id << " within "
                << call.timeout.count() / 1000.0 << " s\n";
      return EXIT_CONNECTION;
    }
    auto event = events.wait_for(ctl::AM_INTERRUPTEVENT, std::min(left, milliseconds(1000)));
    if (!event) {
      if (events.error().kind == ctl::ErrorKind::timeout) continue;
      return connection_failure(call, events.error(), call.event_port());
    }
    if (std::get<ctl::InterruptEvent>(event->body).id != *id) continue;
    *call.out << (call.has("--json") ? event_json(*event) : event_line(*event)) << "\n";
    return EXIT_DONE;
  }
}

int variable(Invocation& call) {
  uint16_t mote = parse_mote(call.words[0]);
  const std::string& name = call.words[1];
  if (name.size() > 255) throw UsageError{"variable names are at most 255 characters"};
  Session session;
  if (!open_commands(call, session)) return session.status;
  auto resolved = session.client.resolve(mote, name);
  if (!resolved) return failed(call, session);
  if (resolved->length == ctl::UNKNOWN_VARIABLE_LENGTH) {
    *call.err << program << ": mote " << mote << " has no variable \"" << name << "\"\n";
    return EXIT_NOT_FOUND;
  }
  uint32_t length = std::min<uint32_t>(resolved->length, 256);
  if (resolved->length > length) {
    *call.err << program << ": showing the first 256 of its " << resolved->length << " bytes\n";
  }
  auto value = session.client.request(resolved->addr, static_cast<uint8_t>(length % 256));
  if (!value) return failed(call, session);
  char byte[4];
  for (uint32_t i = 0; i < std::min(length, value->length); ++i) {
    std::snprintf(byte, sizeof byte, "%02x", value->value[i]);
    *call.out << (i == 0 ? "" : " ") << byte;
  }
  *call.out << "\n";
  if (!call.has("--raw")) {
    size_t shown = std::min(length, value->length);
    *call.out << describe_variable(name, std::span<const uint8_t>(value->value, shown));
  }
  return EXIT_DONE;
}

int run_file(Invocation& call) {
  RunRequest request;
  request.file = call.words[0];
  if (call.has("--motes")) {
    auto motes = parse_integer(call.options["--motes"], 1, 1000);
    if (!motes) throw UsageError{"--motes takes a number of motes from 1 to 1000"};
    request.motes = static_cast<int>(*motes);
  }
  if (call.has("--until")) {
    auto until = parse_integer(call.options["--until"], 1, 1000000);
    if (!until) throw UsageError{"--until takes whole virtual seconds"};
    request.until = static_cast<double>(*until);
  }
  if (call.has("--seed")) {
    auto seed = parse_integer(call.options["--seed"], 0, 2147483647);
    if (!seed) throw UsageError{"--seed takes a number from 0 to 2147483647"};
    request.seed = static_cast<uint32_t>(*seed);
  }
  if (call.has("--rate")) {
    auto rate = parse_number(call.options["--rate"], 0.001, 4294967.295);
    if (!rate) throw UsageError{"--rate takes a number from 0.001 to 4294967.295"};
    request.rate = *rate;
  }
  if (call.has("--adc")) request.adc.push_back(call.options["--adc"]);
  if (call.has("--link")) request.links.push_back(call.options["--link"]);
  if (call.has("--csv") && call.has("--json")) throw UsageError{"give --csv or --json, not both"};
  if (call.has("--csv")) request.format = query_file::ResultFormat::csv;
  if (call.has("--json")) request.format = query_file::ResultFormat::json;
  if (call.has("--brelo")) request.brelo = call.options["--brelo"];
  request.check_only = call.has("--check");
  request.attach = call.has("--attach");
  request.command_port = call.command_port;
  request.timeout = call.timeout;
  request.progress = call.err == &std::cerr && ::isatty(STDERR_FILENO) == 1;
  return run_queries(request, *call.out, *call.err);
}

const char* const time_help =
    "  --at SECONDS  act at this virtual time (a time already passed means now)\n"
    "  --in SECONDS  act this many virtual seconds from the simulator's current time\n";

const std::vector<Verb>& verbs() {
  static const std::vector<Verb> all = {
      {"watch",
       "print events as they happen",
       "usage: brelo-ctl watch [--json] [--types LIST] [--count N] [--seconds S]\n"
       "Prints the simulation's events, one line each, starting with the initial\n"
       "event: debug lines, radio and serial messages sent by motes, ADC samples,\n"
       "LED changes and interrupt echoes. Ends when the simulator goes away\n"
       "(status 3), or after --count events or --seconds real seconds (status 0).\n"
       "  --json        one JSON object per line (JSON Lines)\n"
       "  --types LIST  only these: debug,radio,serial,adc,init,interrupt,leds\n"
       "  --count N     stop after N events\n"
       "  --seconds S   stop after S seconds\n"
       "The simulator waits for every watcher to take each event, so a watcher\n"
       "slows the simulation down to its own pace.\n",
       {"--json"},
       {"--types", "--count", "--seconds"},
       0,
       0,
       watch},
      {"info",
       "print the mote count, radio model, rate and time",
       "usage: brelo-ctl info [--json]\n"
       "Prints the initial event the simulator sends to each new watcher: the\n"
       "number of motes, the radio model, the rate and the virtual time. (Under\n"
       "brelo -gui, this connection is the one the simulation waits for.)\n",
       {"--json"},
       {},
       0,
       0,
       info},
      {"count",
       "print the number of motes",
       "usage: brelo-ctl count\nPrints the number of simulated motes.\n",
       {},
       {},
       0,
       0,
       count},
      {"on",
       "switch motes on",
       "usage: brelo-ctl on MOTES [--at SECONDS | --in SECONDS]\n"
       "Switches motes on (a mote that is on stays as it is; one that is off boots\n"
       "afresh). MOTES is an id, a list and ranges (0,3,5-9), or all.\n",
       {},
       {"--at", "--in"},
       1,
       1,
       [](Invocation& call) { return switch_motes(call, true); }},
      {"off",
       "switch motes off",
       "usage: brelo-ctl off MOTES [--at SECONDS | --in SECONDS]\n"
       "Switches motes off (also cancelling a boot still to come). MOTES is an\n"
       "id, a list and ranges (0,3,5-9), or all.\n",
       {},
       {"--at", "--in"},
       1,
       1,
       [](Invocation& call) { return switch_motes(call, false); }},
      {"radio",
       "hand a mote a message as if its radio received it",
       "usage: brelo-ctl radio MOTE [--type T] [--addr A] [--data HEX | --text TEXT]\n"
       "                        [--length N] [--raw HEX] [--at S | --in S]\n"
       "Delivers a message to MOTE's active-message layer as if it came by radio.\n"
       "  --type T      active-message type (default 0)\n"
       "  --addr A      destination address (default 65535, broadcast)\n"
       "  --data HEX    data bytes in hexadecimal (\"01 02 ff\"), at most 96\n"
       "  --text TEXT   data bytes from a text\n"
       "  --length N    the length field (default: the number of data bytes)\n"
       "  --raw HEX     the whole 112-byte record instead (the rest zero)\n"
       "The group is always the simulation's group.\n",
       {},
       {"--type", "--addr", "--data", "--text", "--length", "--raw", "--at", "--in"},
       1,
       1,
       [](Invocation& call) { return inject(call, true); }},
      {"serial",
       "hand a mote a message as if its serial port received it",
       "usage: brelo-ctl serial MOTE [--type T] [--addr A] [--data HEX | --text TEXT]\n"
       "                         [--length N] [--raw HEX] [--at S | --in S]\n"
       "Delivers a message to MOTE's active-message layer as if it came over the\n"
       "serial port; queries enter the network this way at mote 0. The options\n"
       "are those of radio.\n",
       {},
       {"--type", "--addr", "--data", "--text", "--length", "--raw", "--at", "--in"},
       1,
       1,
       [](Invocation& call) { return inject(call, false); }},
      {"link",
       "set the bit-error probability of a link",
       "usage: brelo-ctl link FROM TO PROBABILITY\n"
       "Sets the probability (0 to 1, in steps of 0.0001) that a bit sent by mote\n"
       "FROM reaches mote TO flipped.\n",
       {},
       {},
       3,
       3,
       link},
      {"adc",
       "set the value a mote's ADC port reads",
       "usage: brelo-ctl adc MOTE PORT VALUE\n"
       "Sets the value (0 to 65535) that conversions on PORT (0 to 255) of MOTE\n"
       "return under the generic ADC model.\n",
       {},
       {},
       3,
       3,
       adc},
      {"rate",
       "change how fast the simulation may run",
       "usage: brelo-ctl rate FACTOR\n"
       "Lets virtual time run at most FACTOR times faster than real time (1 is\n"
       "real time, 0.5 half speed, 1000 the default). 0 holds virtual time still\n"
       "until the next rate change. Precision: thousandths.\n",
       {},
       {},
       1,
       1,
       rate},
      {"dbg",
       "change the debug modes",
       "usage: brelo-ctl dbg MODES\n"
       "Replaces the enabled debug modes: names as in the DBG variable\n"
       "(\"boot,am\", \"all,-radio\", \"none\"), or a number (0x1100).\n",
       {},
       {},
       1,
       1,
       dbg_modes},
      {"mask",
       "choose which events reach watchers",
       "usage: brelo-ctl mask TYPES\n"
       "Sets the event mask of the simulation (for every watcher): names from\n"
       "debug,radio,serial,adc,interrupt,leds, or all, or none, or a number. The\n"
       "initial event of a new watcher is always sent.\n",
       {},
       {},
       1,
       1,
       mask},
      {"interrupt",
       "raise an interrupt, echoed to watchers",
       "usage: brelo-ctl interrupt ID [--wait] [--json] [--at S | --in S]\n"
       "Raises interrupt ID (0 to 4294967295); the simulator echoes it to every\n"
       "watcher as an interrupt event once the simulation reaches it.\n"
       "  --wait        wait for the echo and print it (when it is the virtual time\n"
       "                the interrupt ran at)\n",
       {"--wait", "--json"},
       {"--at", "--in"},
       1,
       1,
       interrupt},
      {"run",
       "run the queries of a query file and print their results",
       "usage: brelo-ctl run FILE [--csv | --json] [--until S] [--motes N] [--seed N]\n"
       "                     [--adc SETTINGS] [--link SETTINGS] [--rate F] [--check]\n"
       "                     [--attach] [--brelo PATH]\n"
       "Reads and checks a query file (see docs/queries.md; nothing is sent when it\n"
       "has mistakes), starts a simulation of the file's network, installs and\n"
       "starts the queries at their virtual times and prints each result that\n"
       "mote 0 sends to the host: a table (time, mote, timestamp, epoch, fields).\n"
       "Ends at the time limit or on Ctrl-C, and ends the simulation with it.\n"
       "Progress goes to standard error when it is a terminal.\n"
       "  --csv, --json     results as CSV, or as JSON Lines\n"
       "  --until S         stop at virtual second S (instead of the file's 'until')\n"
       "  --motes N         simulate N motes (instead of the file's 'motes')\n"
       "  --seed N          the simulation's seed (default: the file's, or 1)\n"
       "  --adc SETTINGS    ADC values as in the file, ';' between settings:\n"
       "                    --adc \"1 light 800; 2-3 temperature 400\"\n"
       "  --link SETTINGS   link bit-error probabilities: --link \"1 0 0.01\"\n"
       "                    (both may be given more than once; links make the\n"
       "                    simulation use the lossy radio model)\n"
       "  --rate F          run at most F times faster than real time (default 20)\n"
       "  --check           check the file and list its messages; run nothing\n"
       "  --attach          use the simulation already running on --port; the\n"
       "                    file's times then count from now, and it goes on after\n"
       "  --brelo PATH      the simulator to start (default: the brelo beside\n"
       "                    brelo-ctl)\n"
       "Exit status 2 when the file has mistakes (each reported as FILE:LINE).\n",
       {"--csv", "--json", "--check", "--attach"},
       {"--until", "--motes", "--seed", "--adc", "--link", "--rate", "--brelo"},
       1,
       1,
       run_file},
      {"var",
       "print the bytes of a component variable of a mote",
       "usage: brelo-ctl var [--raw] MOTE NAME\n"
       "Resolves a component variable (Module$variable) for MOTE and prints its\n"
       "bytes in hexadecimal (as a 32-bit little-endian machine holds them), then\n"
       "its value, or one line per entry of a table, where the type is known.\n"
       "Status 4 when the simulator does not know the name.\n"
       "  --raw  only the bytes\n",
       {"--raw"},
       {},
       2,
       2,
       variable},
  };
  return all;
}

void overall_help(std::ostream& out) {
  out << "usage: brelo-ctl [--port PORT] [--timeout SECONDS] VERB [ARGUMENTS]\n"
         "Watches and steers a running brelo simulation through its control ports.\n\n"
         "verbs:\n";
  for (const Verb& verb : verbs()) {
    char line[96];
    std::snprintf(line, sizeof line, "  %-10s %s\n", verb.name, verb.summary);
    out << line;
  }
  out << "\noptions:\n"
         "  --port PORT       the simulator's command port (default 10584); events are\n"
         "                    on PORT+1. Matches brelo's -port=PORT.\n"
         "  --timeout SECONDS how long to wait for the simulator (default 5)\n"
         "  --help            this text; \"brelo-ctl VERB --help\" explains a verb\n\n"
         "exit status: 0 done, 1 no simulator listening, 2 wrong command line,\n"
         "3 connection failed or the simulator went away, 4 unknown variable\n";
}

const Verb* find_verb(const std::string& name) {
  for (const Verb& verb : verbs()) {
    if (name == verb.name) return &verb;
  }
  return nullptr;
}
}  // namespace

int run(const std::vector<std::string>& args, std::ostream& out, std::ostream& err) {
  Invocation call;
  call.out = &out;
  call.err = &err;
  const Verb* verb = nullptr;
  bool help = false;
  try {
    bool words_only = false;
    for (std::size_t i = 0; i < args.size(); ++i) {
      const std::string& arg = args[i];
      if (words_only || arg.size() < 3 || !arg.starts_with("--")) {
        if (verb == nullptr && !words_only) {
          if (arg == "help") {
            help = true;
            continue;
          }
          verb = find_verb(arg);
          if (verb == nullptr) throw UsageError{"unknown verb \"" + arg + "\""};
        } else {
          call.words.push_back(arg);
        }
        continue;
      }
      if (arg == "--") {
        words_only = true;
        continue;
      }
      std::string name = arg;
      std::optional<std::string> value;
      if (std::size_t equals = arg.find('='); equals != std::string::npos) {
        name = arg.substr(0, equals);
        value = arg.substr(equals + 1);
      }
      auto take_value = [&]() -> std::string {
        if (value) return *value;
        if (i + 1 >= args.size()) throw UsageError{name + " needs a value"};
        return args[++i];
      };
      if (name == "--help") {
        help = true;
      } else if (name == "--port") {
        auto port = parse_integer(take_value(), 1, 65534);
        if (!port) throw UsageError{"--port takes a port from 1 to 65534"};
        call.command_port = static_cast<uint16_t>(*port);
      } else if (name == "--timeout") {
        auto seconds = parse_number(take_value(), 0.001, 86400);
        if (!seconds) throw UsageError{"--timeout takes a number of seconds"};
        call.timeout = milliseconds(static_cast<int64_t>(std::ceil(*seconds * 1000)));
      } else if (verb != nullptr && verb->flags.count(name) != 0) {
        if (value) throw UsageError{name + " takes no value"};
        call.options[name] = "";
      } else if (verb != nullptr && verb->valued.count(name) != 0) {
        std::string value = take_value();
        // Settings may be given more than once; they add up.
        if ((name == "--adc" || name == "--link") && call.has(name)) {
          value = call.options[name] + ";" + value;
        }
        call.options[name] = value;
      } else {
        throw UsageError{"unknown option " + name +
                         (verb != nullptr ? std::string(" for ") + verb->name : std::string())};
      }
    }
    if (help) {
      if (verb == nullptr && !call.words.empty()) verb = find_verb(call.words[0]);
      if (verb != nullptr) {
        out << verb->help << "\nGlobal options --port and --timeout apply; see brelo-ctl --help.\n";
      } else {
        overall_help(out);
      }
      return EXIT_DONE;
    }
    if (verb == nullptr) throw UsageError{"no verb given"};
    if (call.words.size() < verb->min_words || call.words.size() > verb->max_words) {
      throw UsageError{std::string("wrong number of arguments for ") + verb->name};
    }
    return verb->run(call);
  } catch (const UsageError& error) {
    err << program << ": " << error.text << "\n";
    if (verb != nullptr) {
      err << "Try \"brelo-ctl " << verb->name << " --help\".\n";
    } else {
      err << "Try \"brelo-ctl --help\".\n";
    }
    return EXIT_USAGE;
  }
}

}  // namespace brelo_ctl

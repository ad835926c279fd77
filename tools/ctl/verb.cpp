#include "ctl/verb.hpp"

#include <algorithm>

#include "ctl/arguments.hpp"

namespace brelo_ctl {
namespace {
std::string complaint_for(const Option& option, const std::string& value) {
  std::string text = option.complaint;
  if (std::size_t at = text.find("{}"); at != std::string::npos) text.replace(at, 2, value);
  return text;
}
}  // namespace

std::optional<std::string> Invocation::text(const Option& option) const {
  auto given = options.find(option.name);
  if (given == options.end()) return std::nullopt;
  return given->second;
}

std::optional<int64_t> Invocation::integer(const Option& option) const {
  std::optional<std::string> given = text(option);
  if (!given) return std::nullopt;
  return read_integer(option, *given);
}

std::optional<double> Invocation::number(const Option& option) const {
  std::optional<std::string> given = text(option);
  if (!given) return std::nullopt;
  return read_number(option, *given);
}

int64_t read_integer(const Option& option, const std::string& text) {
  return checked(parse_integer(text, option.whole_low, option.whole_high),
                 complaint_for(option, text));
}

double read_number(const Option& option, const std::string& text) {
  return checked(parse_number(text, option.low, option.high), complaint_for(option, text));
}

const Option* Verb::option(const std::string& name) const {
  for (const Option& o : options) {
    if (name == o.name) return &o;
  }
  return nullptr;
}

std::string Verb::help() const {
  std::string text = usage;
  const std::string indent(static_cast<std::size_t>(help_column) + 2, ' ');
  for (const Option& o : options) {
    if (o.help == nullptr) continue;
    std::string label = o.label != nullptr ? o.label : std::string(o.name);
    if (o.label == nullptr && *o.value != '\0') label += std::string(" ") + o.value;
    label.resize(std::max<std::size_t>(label.size(), static_cast<std::size_t>(help_column)), ' ');
    text += "  " + label;
    for (const char* c = o.help; *c != '\0'; ++c) {
      text += *c;
      if (*c == '\n') text += indent;
    }
    text += "\n";
  }
  return text + notes;
}

std::vector<Option> unlisted(std::vector<Option> options) {
  for (Option& o : options) o.help = nullptr;
  return options;
}

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

bool Commands::open() {
  client_.set_timeout(call_.timeout);
  if (client_.connect(call_.command_port, call_.timeout)) return true;
  failed();
  return false;
}

int Commands::failed() {
  status_ = connection_failure(call_, client_.error(), call_.command_port);
  return status_;
}

bool Commands::refuse(const std::string& why) {
  *call_.err << program << ": " << why << "\n";
  return end_with(EXIT_USAGE);
}

bool Commands::end_with(int status) {
  status_ = status;
  return false;
}

int send_command(const Invocation& call, const std::function<bool(ctl::CommandClient&)>& command) {
  Commands commands(call);
  if (!commands.open()) return commands.status();
  return command(commands.client()) ? EXIT_DONE : commands.failed();
}

uint16_t parse_mote(const std::string& text) {
  return static_cast<uint16_t>(
      checked(parse_integer(text, 0, 999), "not a mote id (0 to 999): \"" + text + "\""));
}

const Option at_option{.name = "--at",
                       .kind = Option::Kind::number,
                       .value = "SECONDS",
                       .low = 0,
                       .high = 1e12,
                       .complaint = "--at takes virtual seconds, not \"{}\""};
const Option in_option{.name = "--in",
                       .kind = Option::Kind::number,
                       .value = "SECONDS",
                       .low = 0,
                       .high = 1e12,
                       .complaint = "--in takes virtual seconds, not \"{}\""};

When parse_when(const Invocation& call) {
  if (call.has(at_option) && call.has(in_option)) throw UsageError{"give --at or --in, not both"};
  return When{call.number(at_option), call.number(in_option)};
}

std::optional<int64_t> command_time(const When& when, ctl::CommandClient& client) {
  if (when.at) return seconds_to_ticks(*when.at);
  if (!when.in) return 0;
  // The mote-count reply carries the simulator's current time.
  auto count = client.get_mote_count();
  if (!count) return std::nullopt;
  return count->time + seconds_to_ticks(*when.in);
}

}  // namespace brelo_ctl

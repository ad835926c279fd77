#pragma once
// What a brelo-ctl verb is made of: its help, its options (each declared
// once, with its line in the help and how its value is checked), the number
// of words it takes and the function that does it.
//
// Option values are checked when the verb asks for them, in the order it
// asks, so a command line with several mistakes reports the first one the
// verb meets; a wrong value ends the verb with a UsageError before anything
// reaches the simulator.

#include <chrono>
#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

#include "control/client/control_client.hpp"
#include "ctl/verbs.hpp"

namespace brelo_ctl {

inline constexpr const char* program = "brelo-ctl";

// A wrong command line: the message, then a pointer to the help.
struct UsageError {
  std::string text;
};

// One --option of a verb, declared once: its name, its line in the verb's
// help, and the values it accepts.
struct Option {
  enum class Kind { flag, text, integer, number };
  const char* name = "";        // "--count"
  Kind kind = Kind::flag;
  const char* value = "";       // the value's name in the help ("N")
  const char* help = nullptr;   // its line(s) in the verb's help; nullptr: not listed
  const char* label = nullptr;  // shown instead of name and value
  int64_t whole_low = 0;        // integer: the accepted range
  int64_t whole_high = 0;
  double low = 0;               // number: the accepted range
  double high = 0;
  // What a value out of range hears; "{}" stands for the value given.
  const char* complaint = "";
  bool repeatable = false;      // given again, the values join with ';'
};

// The arguments of one verb: positional words and --options.
struct Invocation {
  uint16_t command_port = ctl::COMMAND_PORT;
  bool port_given = false;  // --port was on the command line
  std::chrono::milliseconds timeout{5000};
  std::vector<std::string> words;
  std::map<std::string, std::string> options;  // "--json" -> "" for flags
  std::ostream* out = nullptr;
  std::ostream* err = nullptr;

  uint16_t event_port() const { return static_cast<uint16_t>(command_port + 1); }
  bool has(const Option& option) const { return options.count(option.name) != 0; }
  // The option's value, nullopt when it was not given; a value its
  // declaration refuses throws UsageError.
  std::optional<std::string> text(const Option& option) const;
  std::optional<int64_t> integer(const Option& option) const;
  std::optional<double> number(const Option& option) const;
};

struct Verb {
  const char* name = "";
  const char* summary = "";  // its line in brelo-ctl --help
  const char* usage = "";    // the usage line and what the verb does
  std::vector<Option> options = {};
  int help_column = 14;      // the width of the option column in its help
  const char* notes = "";    // help after the options
  std::size_t min_words = 0;
  std::size_t max_words = 0;
  std::function<int(Invocation&)> run = {};

  const Option* option(const std::string& name) const;
  // The usage, a line for each listed option, then the notes.
  std::string help() const;
};

// A value of an integer or number option; one it refuses throws UsageError.
int64_t read_integer(const Option& option, const std::string& text);
double read_number(const Option& option, const std::string& text);

// `options` without their help lines, for a verb that takes them but
// explains them elsewhere.
std::vector<Option> unlisted(std::vector<Option> options);

// --- helpers shared by the verbs ---

// A value, or the UsageError `why` when there is none.
template <typename T>
T checked(std::optional<T> value, const std::string& why) {
  if (!value) throw UsageError{why};
  return std::move(*value);
}

// Reports a failed connection; the exit status.
int connection_failure(const Invocation& call, const ctl::ClientError& error, uint16_t port);

// A connection to the command port for one verb.
class Commands {
 public:
  explicit Commands(const Invocation& call) : call_(call) {}
  // Connects; on failure reports it and keeps the status.
  bool open();
  // Reports the client's last failure and keeps it as the status; the exit status.
  int failed();
  // Reports a command the simulation cannot carry out (see
  // simulation_check.hpp) and keeps EXIT_USAGE as the status; false.
  bool refuse(const std::string& why);
  // Keeps `status` as the verb's exit status (its reason already told); false.
  bool end_with(int status);
  int status() const { return status_; }
  const Invocation& call() const { return call_; }
  ctl::CommandClient& client() { return client_; }

 private:
  const Invocation& call_;
  ctl::CommandClient client_;
  int status_ = 0;
};

// Connects, sends one command and reports the outcome; the exit status.
int send_command(const Invocation& call, const std::function<bool(ctl::CommandClient&)>& command);

uint16_t parse_mote(const std::string& text);

// When a command should act: --at (virtual seconds), --in (seconds from
// the simulator's current time), or now. Read before connecting, so that a
// wrong command line never reaches the simulator.
extern const Option at_option;
extern const Option in_option;
struct When {
  std::optional<double> at;
  std::optional<double> in;
};
When parse_when(const Invocation& call);
// The command time in ticks (0: now); nullopt when asking the simulator for
// its current time failed.
std::optional<int64_t> command_time(const When& when, ctl::CommandClient& client);

}  // namespace brelo_ctl

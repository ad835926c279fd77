#include "ctl/verbs.hpp"

#include <cmath>
#include <cstdio>

#include "ctl/verb.hpp"
#include "ctl/verbs/all.hpp"

namespace brelo_ctl {
namespace {
using std::chrono::milliseconds;

// In the order brelo-ctl --help lists them.
const std::vector<Verb>& verbs() {
  static const std::vector<Verb> all = {
      watch_verb(), info_verb(), count_verb(),     on_verb(),  off_verb(),
      radio_verb(), serial_verb(), link_verb(),    adc_verb(), rate_verb(),
      dbg_verb(),   mask_verb(),  interrupt_verb(), run_verb(), var_verb(),
      topology_verb(), view_verb(), sweep_verb(),
  };
  return all;
}

const Verb* find_verb(const std::string& name) {
  for (const Verb& verb : verbs()) {
    if (name == verb.name) return &verb;
  }
  return nullptr;
}

// Options of the tool itself, before or after the verb.
const Option port_option{.name = "--port",
                         .kind = Option::Kind::integer,
                         .whole_low = 1,
                         .whole_high = 65534,
                         .complaint = "--port takes a port from 1 to 65534"};
const Option timeout_option{.name = "--timeout",
                            .kind = Option::Kind::number,
                            .low = 0.001,
                            .high = 86400,
                            .complaint = "--timeout takes a number of seconds"};

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
         "exit status: 0 done, 1 no simulator listening, 2 wrong command line or a\n"
         "command the simulation cannot carry out (a mote it does not have, a link\n"
         "setting without the lossy radio model), 3 connection failed or the\n"
         "simulator went away, 4 unknown variable\n";
}

// Reads the command line into `call` and `verb` (nullptr when none is
// named); sets `help` when help is asked for.
void read_command_line(const std::vector<std::string>& args, Invocation& call, bool& help,
                       const Verb*& verb) {
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
    const Option* option = verb != nullptr ? verb->option(name) : nullptr;
    if (name == "--help") {
      help = true;
    } else if (name == port_option.name) {
      call.command_port = static_cast<uint16_t>(read_integer(port_option, take_value()));
      call.port_given = true;
    } else if (name == timeout_option.name) {
      double seconds = read_number(timeout_option, take_value());
      call.timeout = milliseconds(static_cast<int64_t>(std::ceil(seconds * 1000)));
    } else if (option != nullptr && option->kind == Option::Kind::flag) {
      if (value) throw UsageError{name + " takes no value"};
      call.options[name] = "";
    } else if (option != nullptr) {
      std::string given = take_value();
      // Settings that may be given more than once add up.
      if (option->repeatable && call.options.count(name) != 0) {
        given = call.options[name] + ";" + given;
      }
      call.options[name] = given;
    } else {
      throw UsageError{"unknown option " + name +
                       (verb != nullptr ? std::string(" for ") + verb->name : std::string())};
    }
  }
}
}  // namespace

int run(const std::vector<std::string>& args, std::ostream& out, std::ostream& err) {
  Invocation call;
  call.out = &out;
  call.err = &err;
  const Verb* verb = nullptr;
  bool help = false;
  try {
    read_command_line(args, call, help, verb);
    if (help) {
      if (verb == nullptr && !call.words.empty()) verb = find_verb(call.words[0]);
      if (verb != nullptr) {
        out << verb->help() << "\nGlobal options --port and --timeout apply; see brelo-ctl --help.\n";
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

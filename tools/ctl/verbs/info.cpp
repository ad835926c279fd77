// brelo-ctl info: the initial event a new watcher gets.

#include "ctl/event_format.hpp"
#include "ctl/verbs/all.hpp"

namespace brelo_ctl {
namespace {
const Option json{.name = "--json"};

int info(Invocation& call) {
  ctl::EventClient events;
  if (!events.connect(call.event_port(), call.timeout)) {
    return connection_failure(call, events.error(), call.event_port());
  }
  std::optional<ctl::Event> event = events.next(call.timeout);
  if (!event) return connection_failure(call, events.error(), call.event_port());
  *call.out << (call.has(json) ? event_json(*event) : event_line(*event)) << "\n";
  return EXIT_DONE;
}
}  // namespace

Verb info_verb() {
  return {.name = "info",
          .summary = "print the mote count, radio model, rate and time",
          .usage = "usage: brelo-ctl info [--json]\n"
                   "Prints the initial event the simulator sends to each new watcher: the\n"
                   "number of motes, the radio model, the rate and the virtual time. (Under\n"
                   "brelo -gui, this connection is the one the simulation waits for.)\n",
          .options = {json},
          .run = info};
}

}  // namespace brelo_ctl

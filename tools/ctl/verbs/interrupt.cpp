// brelo-ctl interrupt: raises an interrupt, and with --wait prints its echo.

#include <algorithm>

#include "ctl/arguments.hpp"
#include "ctl/event_format.hpp"
#include "ctl/verbs/all.hpp"
#include "control/wire/socket_io.hpp"

namespace brelo_ctl {
namespace {
using std::chrono::milliseconds;

const Option wait{.name = "--wait",
                  .help = "wait for the echo and print it (when it is the virtual time\n"
                          "the interrupt ran at)"};
const Option json{.name = "--json"};

int interrupt(Invocation& call) {
  auto id = static_cast<uint32_t>(checked(parse_integer(call.words[0], 0, UINT32_MAX),
                                          "the id is a number from 0 to 4294967295"));
  When when = parse_when(call);
  ctl::EventClient events;
  if (call.has(wait)) {
    // Once the initial event is here, the simulator sends this client every
    // later event, the echo included.
    if (!events.connect(call.event_port(), call.timeout) || !events.next(call.timeout)) {
      return connection_failure(call, events.error(), call.event_port());
    }
  }
  Commands commands(call);
  if (!commands.open()) return commands.status();
  auto time = command_time(when, commands.client());
  if (!time) return commands.failed();
  if (!commands.client().interrupt(id, *time)) return commands.failed();
  if (!call.has(wait)) return EXIT_DONE;
  // Other events (and other interrupts' echoes) pass by until ours comes.
  ctl::Deadline deadline = ctl::deadline_after(call.timeout);
  if (call.has(at_option) || call.has(in_option)) deadline = ctl::Deadline::max();
  for (;;) {
    auto left = std::chrono::duration_cast<milliseconds>(deadline - ctl::IoClock::now());
    if (left.count() <= 0) {
      *call.err << program << ": no echo of interrupt " << id << " within "
                << call.timeout.count() / 1000.0 << " s\n";
      return EXIT_CONNECTION;
    }
    auto event = events.wait_for(ctl::AM_INTERRUPTEVENT, std::min(left, milliseconds(1000)));
    if (!event) {
      if (events.error().kind == ctl::ErrorKind::timeout) continue;
      return connection_failure(call, events.error(), call.event_port());
    }
    if (std::get<ctl::InterruptEvent>(event->body).id != id) continue;
    *call.out << (call.has(json) ? event_json(*event) : event_line(*event)) << "\n";
    return EXIT_DONE;
  }
}
}  // namespace

Verb interrupt_verb() {
  return {.name = "interrupt",
          .summary = "raise an interrupt, echoed to watchers",
          .usage = "usage: brelo-ctl interrupt ID [--wait] [--json] [--at S | --in S]\n"
                   "Raises interrupt ID (0 to 4294967295); the simulator echoes it to every\n"
                   "watcher as an interrupt event once the simulation reaches it.\n",
          .options = {wait, json, at_option, in_option},
          .min_words = 1,
          .max_words = 1,
          .run = interrupt};
}

}  // namespace brelo_ctl

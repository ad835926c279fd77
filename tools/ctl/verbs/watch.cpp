// brelo-ctl watch: prints the simulation's events as they happen.

#include <algorithm>

#include "ctl/arguments.hpp"
#include "ctl/event_format.hpp"
#include "ctl/verbs/all.hpp"
#include "control/wire/socket_io.hpp"

namespace brelo_ctl {
namespace {
using std::chrono::milliseconds;

const Option json{.name = "--json", .help = "one JSON object per line (JSON Lines)"};
const Option types{.name = "--types",
                   .kind = Option::Kind::text,
                   .value = "LIST",
                   .help = "only these: debug,radio,serial,adc,init,interrupt,leds"};
const Option count{.name = "--count",
                   .kind = Option::Kind::integer,
                   .value = "N",
                   .help = "stop after N events",
                   .whole_low = 1,
                   .whole_high = INT64_MAX,
                   .complaint = "--count takes a positive number"};
const Option seconds{.name = "--seconds",
                     .kind = Option::Kind::number,
                     .value = "S",
                     .help = "stop after S seconds",
                     .low = 0,
                     .high = 1e9,
                     .complaint = "--seconds takes a number of seconds"};

int watch(Invocation& call) {
  std::optional<uint16_t> mask;
  if (auto list = call.text(types)) {
    std::string why;
    mask = checked(parse_event_mask(*list, &why), why);
  }
  std::optional<int64_t> limit = call.integer(count);
  std::optional<ctl::Deadline> until;
  if (auto wait = call.number(seconds)) {
    until = ctl::IoClock::now() + std::chrono::duration_cast<ctl::IoClock::duration>(
                                      std::chrono::duration<double>(*wait));
  }
  const bool as_json = call.has(json);

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
    if (mask && (event->header.msgType & *mask) == 0) continue;
    *call.out << (as_json ? event_json(*event) : event_line(*event)) << std::endl;
    if (limit && ++shown >= *limit) return EXIT_DONE;
  }
}
}  // namespace

Verb watch_verb() {
  return {.name = "watch",
          .summary = "print events as they happen",
          .usage = "usage: brelo-ctl watch [--json] [--types LIST] [--count N] [--seconds S]\n"
                   "Prints the simulation's events, one line each, starting with the initial\n"
                   "event: debug lines, radio and serial messages sent by motes, ADC samples,\n"
                   "LED changes and interrupt echoes. Ends when the simulator goes away\n"
                   "(status 3), or after --count events or --seconds real seconds (status 0).\n",
          .options = {json, types, count, seconds},
          .notes = "The simulator waits for every watcher to take each event, so a watcher\n"
                   "slows the simulation down to its own pace.\n",
          .run = watch};
}

}  // namespace brelo_ctl

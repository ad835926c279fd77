// brelo-ctl mask: which events reach watchers.

#include "ctl/arguments.hpp"
#include "ctl/verbs/all.hpp"

namespace brelo_ctl {
namespace {
int mask(Invocation& call) {
  std::string why;
  uint16_t mask = checked(parse_event_mask(call.words[0], &why), why);
  return send_command(call,
                      [&](ctl::CommandClient& client) { return client.set_event_mask(mask); });
}
}  // namespace

Verb mask_verb() {
  return {.name = "mask",
          .summary = "choose which events reach watchers",
          .usage = "usage: brelo-ctl mask TYPES\n"
                   "Sets the event mask of the simulation (for every watcher): names from\n"
                   "debug,radio,serial,adc,interrupt,leds, or all, or none, or a number. The\n"
                   "initial event of a new watcher is always sent.\n",
          .min_words = 1,
          .max_words = 1,
          .run = mask};
}

}  // namespace brelo_ctl

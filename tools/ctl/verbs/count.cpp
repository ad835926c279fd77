// brelo-ctl count: the number of simulated motes.

#include "ctl/verbs/all.hpp"

namespace brelo_ctl {
namespace {
int count(Invocation& call) {
  Commands commands(call);
  if (!commands.open()) return commands.status();
  auto count = commands.client().get_mote_count();
  if (!count) return commands.failed();
  *call.out << count->totalMotes << "\n";
  return EXIT_DONE;
}
}  // namespace

Verb count_verb() {
  return {.name = "count",
          .summary = "print the number of motes",
          .usage = "usage: brelo-ctl count\nPrints the number of simulated motes.\n",
          .run = count};
}

}  // namespace brelo_ctl

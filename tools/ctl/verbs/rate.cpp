// brelo-ctl rate: how much faster than real time the simulation may run.

#include "ctl/arguments.hpp"
#include "ctl/verbs/all.hpp"

namespace brelo_ctl {
namespace {
int rate(Invocation& call) {
  double factor = checked(parse_number(call.words[0], 0, 4294967.295),
                          "the rate is a number from 0 to 4294967.295");
  return send_command(call, [&](ctl::CommandClient& client) { return client.set_rate(factor); });
}
}  // namespace

Verb rate_verb() {
  return {.name = "rate",
          .summary = "change how fast the simulation may run",
          .usage = "usage: brelo-ctl rate FACTOR\n"
                   "Lets virtual time run at most FACTOR times faster than real time (1 is\n"
                   "real time, 0.5 half speed, 1000 the default). 0 holds virtual time still\n"
                   "until the next rate change. Precision: thousandths.\n",
          .min_words = 1,
          .max_words = 1,
          .run = rate};
}

}  // namespace brelo_ctl

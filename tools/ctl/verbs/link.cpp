// brelo-ctl link: sets the bit-error probability of a link.

#include "ctl/arguments.hpp"
#include "ctl/simulation_check.hpp"
#include "ctl/verbs/all.hpp"

namespace brelo_ctl {
namespace {
int link(Invocation& call) {
  uint16_t from = parse_mote(call.words[0]);
  uint16_t to = parse_mote(call.words[1]);
  double probability =
      checked(parse_number(call.words[2], 0, 1), "the probability is a number from 0 to 1");
  Commands commands(call);
  if (!commands.open()) return commands.status();
  if (!motes_exist(commands, {from, to}) || !uses_lossy_radio(commands)) return commands.status();
  if (!commands.client().set_link_probability(from, to, probability)) return commands.failed();
  return EXIT_DONE;
}
}  // namespace

Verb link_verb() {
  return {.name = "link",
          .summary = "set the bit-error probability of a link",
          .usage = "usage: brelo-ctl link FROM TO PROBABILITY\n"
                   "Sets the probability (0 to 1, in steps of 0.0001) that a bit sent by mote\n"
                   "FROM reaches mote TO flipped. Only the lossy radio model (brelo -r=lossy\n"
                   "or -rf=FILE) uses links; under another model the setting is refused.\n",
          .min_words = 3,
          .max_words = 3,
          .run = link};
}

}  // namespace brelo_ctl

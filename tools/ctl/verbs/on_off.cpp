// brelo-ctl on, off: switch motes on or off, now or at a virtual time.

#include "ctl/arguments.hpp"
#include "ctl/simulation_check.hpp"
#include "ctl/verbs/all.hpp"

namespace brelo_ctl {
namespace {
// The motes chosen; "all" asks the simulator how many there are.
std::optional<std::vector<uint16_t>> mote_list(const std::vector<uint16_t>& chosen, bool all,
                                               ctl::CommandClient& client) {
  if (!all) return chosen;
  auto count = client.get_mote_count();
  if (!count) return std::nullopt;
  std::vector<uint16_t> every;
  for (uint16_t mote = 0; mote < count->totalMotes; ++mote) every.push_back(mote);
  return every;
}

int switch_motes(Invocation& call, bool on) {
  bool all = false;
  std::string why;
  std::vector<uint16_t> chosen = checked(parse_motes(call.words[0], &all, &why), why);
  When when = parse_when(call);
  Commands commands(call);
  if (!commands.open()) return commands.status();
  ctl::CommandClient& client = commands.client();
  if (!all && !motes_exist(commands, chosen)) return commands.status();
  auto motes = mote_list(chosen, all, client);
  if (!motes) return commands.failed();
  auto time = command_time(when, client);
  if (!time) return commands.failed();
  // Several motes travel in one batch, so they switch in one go.
  bool batch = motes->size() > 1;
  if (batch && !client.begin_batch()) return commands.failed();
  for (uint16_t mote : *motes) {
    bool sent = on ? client.turn_on(mote, *time) : client.turn_off(mote, *time);
    if (!sent) return commands.failed();
  }
  if (batch && !client.end_batch()) return commands.failed();
  return EXIT_DONE;
}
}  // namespace

Verb on_verb() {
  return {.name = "on",
          .summary = "switch motes on",
          .usage = "usage: brelo-ctl on MOTES [--at SECONDS | --in SECONDS]\n"
                   "Switches motes on (a mote that is on stays as it is; one that is off boots\n"
                   "afresh). MOTES is an id, a list and ranges (0,3,5-9), or all.\n",
          .options = {at_option, in_option},
          .min_words = 1,
          .max_words = 1,
          .run = [](Invocation& call) { return switch_motes(call, true); }};
}

Verb off_verb() {
  return {.name = "off",
          .summary = "switch motes off",
          .usage = "usage: brelo-ctl off MOTES [--at SECONDS | --in SECONDS]\n"
                   "Switches motes off (also cancelling a boot still to come). MOTES is an\n"
                   "id, a list and ranges (0,3,5-9), or all.\n",
          .options = {at_option, in_option},
          .min_words = 1,
          .max_words = 1,
          .run = [](Invocation& call) { return switch_motes(call, false); }};
}

}  // namespace brelo_ctl

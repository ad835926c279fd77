// brelo-ctl dbg: replaces the enabled debug modes.

#include "ctl/arguments.hpp"
#include "ctl/verbs/all.hpp"

namespace brelo_ctl {
namespace {
int dbg_modes(Invocation& call) {
  std::string why;
  int64_t modes = checked(parse_dbg_modes(call.words[0], &why), why);
  return send_command(call, [&](ctl::CommandClient& client) { return client.set_dbg(modes); });
}
}  // namespace

Verb dbg_verb() {
  return {.name = "dbg",
          .summary = "change the debug modes",
          .usage = "usage: brelo-ctl dbg MODES\n"
                   "Replaces the enabled debug modes: names as in the DBG variable\n"
                   "(\"boot,am\", \"all,-radio\", \"none\"), or a number (0x1100).\n",
          .min_words = 1,
          .max_words = 1,
          .run = dbg_modes};
}

}  // namespace brelo_ctl

// brelo-ctl var: the bytes of a component variable of a mote, and their
// value where the variable's type is known.

#include <cstdio>
#include <vector>

#include "ctl/simulation_check.hpp"
#include "ctl/variable_format.hpp"
#include "ctl/variable_read.hpp"
#include "ctl/verbs/all.hpp"

namespace brelo_ctl {
namespace {
const Option raw{.name = "--raw", .help = "only the bytes"};

int variable(Invocation& call) {
  uint16_t mote = parse_mote(call.words[0]);
  const std::string& name = call.words[1];
  if (name.size() > 255) throw UsageError{"variable names are at most 255 characters"};
  Commands commands(call);
  if (!commands.open()) return commands.status();
  if (!motes_exist(commands, {mote})) return commands.status();
  auto resolved = commands.client().resolve(mote, name);
  if (!resolved) return commands.failed();
  if (resolved->length == ctl::UNKNOWN_VARIABLE_LENGTH) {
    *call.err << program << ": mote " << mote << " has no variable \"" << name << "\"\n";
    return EXIT_NOT_FOUND;
  }
  if (resolved->length > largest_variable) {
    *call.err << program << ": the simulator gave \"" << name << "\" a length of "
              << resolved->length << " bytes, more than any variable has\n";
    return EXIT_CONNECTION;
  }
  auto bytes = read_whole(commands, name, resolved->addr, resolved->length, piece_size(name));
  if (!bytes) return commands.status();
  char byte[4];
  for (std::size_t i = 0; i < bytes->size(); ++i) {
    std::snprintf(byte, sizeof byte, "%02x", (*bytes)[i]);
    *call.out << (i == 0 ? "" : " ") << byte;
  }
  *call.out << "\n";
  if (!call.has(raw)) *call.out << describe_variable(name, *bytes);
  return EXIT_DONE;
}
}  // namespace

Verb var_verb() {
  return {.name = "var",
          .summary = "print the bytes of a component variable of a mote",
          .usage = "usage: brelo-ctl var [--raw] MOTE NAME\n"
                   "Resolves a component variable (Module$variable) for MOTE and prints its\n"
                   "bytes in hexadecimal (as a 32-bit little-endian machine holds them), then\n"
                   "its value, or one line per entry of a table, where the type is known.\n"
                   "A table is read in pieces of whole entries, each entry as of one moment.\n"
                   "Status 4 when the simulator does not know the name.\n",
          .options = {raw},
          .help_column = 7,
          .min_words = 2,
          .max_words = 2,
          .run = variable};
}

}  // namespace brelo_ctl

// brelo-ctl var: the bytes of a component variable of a mote, and their
// value where the variable's type is known.

#include <algorithm>
#include <cstdio>
#include <vector>

#include "ctl/simulation_check.hpp"
#include "ctl/variable_format.hpp"
#include "ctl/verbs/all.hpp"
#include "protocol/variables.hpp"

namespace brelo_ctl {
namespace {
const Option raw{.name = "--raw", .help = "only the bytes"};

// The most one request returns.
constexpr uint32_t reply_limit = sizeof(ctl::VariableRequestResponse::value);
// No variable of a mote comes near this; a longer length is a broken reply.
constexpr uint32_t largest_variable = 1 << 16;

// How many bytes to ask for at a time. Each request is answered from one
// moment of the simulation, so a table is read in whole entries: no entry
// mixes bytes of two moments.
uint32_t piece_size(const std::string& name) {
  const protocol::VariableLayout* layout = protocol::variable_layout(name);
  if (layout == nullptr || layout->fields.empty() || layout->entry_size > reply_limit) {
    return reply_limit;
  }
  return reply_limit / layout->entry_size * layout->entry_size;
}

// All `length` bytes from `addr` on, in pieces; nullopt when a request
// failed (reported) or the simulator answered fewer bytes than asked.
std::optional<std::vector<uint8_t>> read_whole(Commands& commands, const std::string& name,
                                               uint32_t addr, uint32_t length, uint32_t piece) {
  std::vector<uint8_t> bytes;
  bytes.reserve(length);
  while (bytes.size() < length) {
    auto offset = static_cast<uint32_t>(bytes.size());
    uint32_t want = std::min(piece, length - offset);
    // A length byte of 0 asks for 256.
    auto value = commands.client().request(addr + offset, static_cast<uint8_t>(want % 256));
    if (!value) {
      commands.failed();
      return std::nullopt;
    }
    if (value->length < want) {
      *commands.call().err << program << ": the simulator could not read all of " << name
                           << ": it answered " << value->length << " of " << want
                           << " bytes at offset " << offset << "\n";
      commands.end_with(EXIT_CONNECTION);
      return std::nullopt;
    }
    bytes.insert(bytes.end(), value->value, value->value + want);
  }
  return bytes;
}

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

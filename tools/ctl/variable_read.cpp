#include "ctl/variable_read.hpp"

#include <algorithm>

#include "ctl/verbs.hpp"
#include "protocol/variables.hpp"

namespace brelo_ctl {
namespace {
// The most one request returns.
constexpr uint32_t reply_limit = sizeof(ctl::VariableRequestResponse::value);
}  // namespace

uint32_t piece_size(const std::string& name) {
  const protocol::VariableLayout* layout = protocol::variable_layout(name);
  if (layout == nullptr || layout->fields.empty() || layout->entry_size > reply_limit) {
    return reply_limit;
  }
  return reply_limit / layout->entry_size * layout->entry_size;
}

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

}  // namespace brelo_ctl

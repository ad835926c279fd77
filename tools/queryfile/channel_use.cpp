#include "queryfile/channel_use.hpp"

#include <set>

#include "protocol/limits.hpp"

namespace query_file {

// A reading mote holds one source slot per mote sending it a stream, and
// every such source also takes one of its channels; with at least as many
// slots as channels, a file whose channels fit never runs out of slots.
static_assert(protocol::REMOTE_SOURCES >= protocol::CHANNELS,
              "check the sources of each reading stream as well as the channels");

void ChannelUse::open(uint8_t query, uint16_t from, uint16_t to, int line) {
  auto take = [&](uint16_t mote, uint16_t peer, bool incoming) {
    std::vector<Channel>& table = motes_[mote];
    table.push_back({query, peer, incoming});
    if (static_cast<int>(table.size()) > protocol::CHANNELS) overfilled_.try_emplace(mote, line);
  };
  take(from, to, false);
  take(to, from, true);
}

void ChannelUse::stop(uint8_t query) {
  for (auto& [mote, table] : motes_) {
    std::erase_if(table, [&](const Channel& c) { return c.query == query; });
  }
}

std::vector<ChannelUse::Overflow> ChannelUse::overflows() {
  std::vector<Overflow> found;
  for (auto [mote, line] : overfilled_) found.push_back({line, describe(mote)});
  overfilled_.clear();
  return found;
}

// "mote 0 can take 4 channels; 19 motes send to it: ..."
std::string ChannelUse::describe(uint16_t mote) const {
  int incoming = 0, outgoing = 0;
  std::set<uint16_t> senders;
  for (const Channel& c : motes_.at(mote)) {
    if (c.incoming) {
      ++incoming;
      senders.insert(c.peer);
    } else {
      ++outgoing;
    }
  }
  auto count = [](int n, const char* one, const char* many) {
    return std::to_string(n) + " " + (n == 1 ? one : many);
  };
  std::string why;
  if (incoming > 0) {
    why = count(static_cast<int>(senders.size()), "mote sends", "motes send");
    why += static_cast<int>(senders.size()) == incoming ? " to it"
                                                         : " it " + count(incoming, "stream", "streams");
  }
  if (outgoing > 0) {
    why += (why.empty() ? "it sends " : " and it sends ") + count(outgoing, "stream", "streams") +
           " to other motes";
  }
  return "mote " + std::to_string(mote) + " can take " + std::to_string(protocol::CHANNELS) +
         " channels; " + why +
         ": relay through other motes (every remote stream between two motes takes a channel at"
         " both ends; 'collect' plans the relays for a whole network)";
}

}  // namespace query_file

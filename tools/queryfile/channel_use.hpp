#pragma once
// The motes' channel tables, followed through a file's queries. Every
// remote stream between two motes is one channel, and a channel takes an
// entry of the channel table at both of its ends: at the sending mote when
// its query starts, at the reading mote when the opening message arrives
// there. Both are held until the sending stream's query stops. A mote whose
// table is full refuses further channels, so records of a stream that does
// not fit never arrive; the compiler refuses such a file instead.

#include <cstdint>
#include <map>
#include <string>
#include <vector>

namespace query_file {

class ChannelUse {
 public:
  // A sending stream of `query`, declared on `line`, from mote `from` to mote `to`.
  void open(uint8_t query, uint16_t from, uint16_t to, int line);
  // The channels of `query`'s sending streams are freed.
  void stop(uint8_t query);

  struct Overflow {
    int line;  // the stream that first did not fit
    std::string text;
  };
  // One message per mote whose table the opens since the last call
  // overfilled, saying why and what to do about it.
  std::vector<Overflow> overflows();

 private:
  struct Channel {
    uint8_t query;
    uint16_t peer;  // the mote at the other end
    bool incoming;
  };
  std::string describe(uint16_t mote) const;

  std::map<uint16_t, std::vector<Channel>> motes_;
  std::map<uint16_t, int> overfilled_;  // mote -> line of the first stream that did not fit
};

}  // namespace query_file

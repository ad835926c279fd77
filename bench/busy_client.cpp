// Sets up the busy-network scenario on a brelo started with -gui: every mote
// but 0 streams its light readings over a remote stream to mote 0, which
// sends what arrives to the serial line. The operator messages reach mote 0
// through the control port and travel on to the other motes by radio. Once
// they are queued, a watcher connects (letting the motes boot) and leaves.
//
// Usage: busy_client COMMAND_PORT MOTES

#include <cstdio>
#include <cstdlib>
#include <initializer_list>
#include <optional>
#include <span>

#include "../tests/query/operator_messages.hpp"
#include "control/client/control_client.hpp"

namespace {
using namespace query_test;

constexpr int64_t kSecond = 4000000;        // ticks
constexpr int64_t kSpacing = kSecond / 20;  // between operator messages: one radio packet each
constexpr uint8_t kLight = 1;               // sensor id of the light sensor
constexpr uint8_t kPhotoPort = 1;           // its ADC port
constexpr uint32_t kRate = 256;             // timer counts: a quarter of a second

bool send_query(ctl::CommandClient& commands, uint16_t to, int64_t& time,
                std::initializer_list<OperatorMsg> messages) {
  for (const OperatorMsg& m : messages) {
    std::span<const uint8_t> data(reinterpret_cast<const uint8_t*>(&m), sizeof m);
    if (!commands.inject_uart(0, ctl::make_message(to, AM_OPERATORMSG, data), time)) return false;
    time += kSpacing;
  }
  return true;
}
}  // namespace

int main(int argc, char** argv) {
  if (argc != 3) {
    std::fprintf(stderr, "usage: %s COMMAND_PORT MOTES\n", argv[0]);
    return 2;
  }
  const int port = std::atoi(argv[1]);
  const int motes = std::atoi(argv[2]);
  if (port < 1 || port > 65534 || motes < 2 || motes > 1000) {
    std::fprintf(stderr, "%s: bad port or mote count\n", argv[0]);
    return 2;
  }
  ctl::CommandClient commands;
  if (!commands.connect(static_cast<uint16_t>(port))) {
    std::fprintf(stderr, "%s: %s\n", argv[0], commands.error().text.c_str());
    return 1;
  }
  int64_t time = kSecond;
  bool ok = send_query(commands, 0, time,
                       {remote_open(1, 9, 0), op(1, SERIAL_SEND, 0, -1, 4),
                        message(1, CODE_START_QUERY)});
  // Every mote's query first, then the starts, so that no stream competes
  // for the channel with the operator messages still on their way.
  for (int mote = 1; ok && mote < motes; ++mote) {
    const auto id = static_cast<uint16_t>(mote);
    ok = commands.set_adc_value(id, kPhotoPort, 800) &&
         send_query(commands, id, time,
                    {sensor_open(1, kLight, kRate), local_open(1), remote_open(1, 9, 0),
                     selection(1, 0, 1, GREATER, 3, 100), op(1, SEND, 1, 2, 4)});
  }
  for (int mote = 1; ok && mote < motes; ++mote) {
    ok = send_query(commands, static_cast<uint16_t>(mote), time, {message(1, CODE_START_QUERY)});
  }
  if (!ok) {
    std::fprintf(stderr, "%s: %s\n", argv[0], commands.error().text.c_str());
    return 1;
  }
  // No events for the watcher (the mask holds for every client), so the run
  // never waits for its acknowledgements.
  if (!commands.set_event_mask(0)) {
    std::fprintf(stderr, "%s: %s\n", argv[0], commands.error().text.c_str());
    return 1;
  }
  ctl::EventClient watcher;
  if (!watcher.connect(static_cast<uint16_t>(port + 1)) || !watcher.next(ctl::milliseconds(5000))) {
    std::fprintf(stderr, "%s: %s\n", argv[0], watcher.error().text.c_str());
    return 1;
  }
  // The watcher stays until virtual time has moved (brelo looks for one
  // before booting the motes), then leaves.
  for (;;) {
    std::optional<ctl::MoteCount> count = commands.get_mote_count();
    if (!count) return 1;
    if (count->time > 0) break;
  }
  watcher.close();
  std::printf("queries queued; the last reaches mote 0 at %.3f virtual s\n",
              static_cast<double>(time) / kSecond);
  return 0;
}

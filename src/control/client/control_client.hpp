#pragma once
// A client of the simulator's control ports, for programs and tests.
//
// EventClient connects to the event port and reads events, acknowledging
// each one (the simulator waits for that byte before it goes on).
// CommandClient connects to the command port and sends commands, reading
// the simulator's acknowledgement byte after each one outside a batch and
// the reply frame of the commands that have one.
//
// Every wait has a timeout. Failures are reported by return values, with the
// reason in error(): the simulator not listening (refused), a timeout, the
// simulator closing the connection, or a broken frame.

#include <chrono>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <variant>
#include <vector>

#include "control/wire/gui_msg.hpp"
#include "control/wire/records.hpp"
#include "net/vex_msg.hpp"

namespace ctl {

using std::chrono::milliseconds;

enum class ErrorKind {
  none,
  refused,   // nothing listens on the port: the simulator is not running
  timeout,   // no answer in time
  closed,    // the simulator closed the connection (or was never connected)
  io,        // another socket failure
  protocol,  // a frame that makes no sense
  unserved,  // the simulator answered a variable read with "not read" (length 0)
};

struct ClientError {
  ErrorKind kind = ErrorKind::none;
  std::string text;
};

// Decoded events.
struct DebugMessage {
  std::string text;  // the debug line up to its terminating NUL
};
struct RadioMessageSent {
  VEX_Msg message;
};
struct UartMessageSent {
  VEX_Msg message;
};
struct UnknownEvent {};
using EventBody = std::variant<DebugMessage, RadioMessageSent, UartMessageSent, ADCDataReadyEvent,
                               VarnixInitEvent, InterruptEvent, LedEvent, UnknownEvent>;

struct Event {
  GuiMsg header;
  std::vector<uint8_t> payload;  // as received
  EventBody body;                // decoded by type
};

// Decodes an event frame's payload by its header's type.
Event decode_event(const GuiMsg& header, std::vector<uint8_t> payload);

// A frame as received.
struct Frame {
  GuiMsg header;
  std::vector<uint8_t> payload;
};

struct MoteCount {
  uint16_t totalMotes = 0;
  std::vector<bool> present;  // 1000 entries, from the bitmask
  int64_t time = 0;           // the simulator's virtual time when it answered
};

// One TCP connection to 127.0.0.1. Owns its socket.
class Connection {
 public:
  Connection() = default;
  ~Connection();
  Connection(Connection&& other) noexcept;
  Connection& operator=(Connection&& other) noexcept;

  bool connect(uint16_t port, milliseconds timeout);
  bool connected() const { return fd_ >= 0; }
  void close();
  int fd() const { return fd_; }

  bool write(std::span<const uint8_t> bytes, milliseconds timeout);
  bool read(std::span<uint8_t> bytes, milliseconds timeout);
  std::optional<Frame> read_frame(milliseconds timeout);
  // True when a byte (or the end of the stream) arrives within `wait`.
  bool readable_within(milliseconds wait);

  const ClientError& error() const { return error_; }
  void fail(ErrorKind kind, std::string text);

 private:
  int fd_ = -1;
  uint16_t port_ = 0;
  ClientError error_;
};

class EventClient {
 public:
  // Connects to the event port; the simulator then sends the initial event.
  bool connect(uint16_t port = EVENT_PORT, milliseconds timeout = milliseconds(2000));
  void close() { connection_.close(); }

  // The next event, acknowledged. nullopt on timeout, closure or failure.
  std::optional<Event> next(milliseconds timeout);
  // The next event without acknowledging it; call acknowledge() after.
  std::optional<Event> next_unacknowledged(milliseconds timeout);
  bool acknowledge();

  // Reads (and acknowledges) events until one of `type` arrives, or until
  // `timeout` in all. With `skipped`, the events passed over are kept there.
  std::optional<Event> wait_for(uint16_t type, milliseconds timeout,
                                std::vector<Event>* skipped = nullptr);

  Connection& connection() { return connection_; }
  const ClientError& error() const { return connection_.error(); }

 private:
  Connection connection_;
};

class CommandClient {
 public:
  bool connect(uint16_t port = COMMAND_PORT, milliseconds timeout = milliseconds(2000));
  void close() { connection_.close(); }

  // How long to wait for acknowledgements and replies (default 5 s).
  void set_timeout(milliseconds timeout) { timeout_ = timeout; }

  // Sends a command. Outside a batch, waits for its acknowledgement.
  bool send(uint16_t type, uint16_t mote, int64_t time, std::span<const uint8_t> payload = {});
  // Sends a command that has a reply and returns the reply (acknowledged).
  // Inside a batch the simulator drops replies: the answer is nullopt.
  std::optional<Frame> send_for_reply(uint16_t type, uint16_t mote, int64_t time,
                                      std::span<const uint8_t> payload);

  // Times are virtual ticks; a time in the past (0) means now.
  bool turn_on(uint16_t mote, int64_t time = 0);
  bool turn_off(uint16_t mote, int64_t time = 0);
  bool inject_radio(uint16_t mote, const VEX_Msg& message, int64_t time = 0);
  bool inject_uart(uint16_t mote, const VEX_Msg& message, int64_t time = 0);
  bool interrupt(uint32_t id, int64_t time = 0, uint16_t mote = 0);
  // Bit-error probability (0..1) of the link from one mote to another.
  bool set_link_probability(uint16_t from, uint16_t to, double probability);
  bool set_adc_value(uint16_t mote, uint8_t port, uint16_t value);
  // The real-time factor (1.0 is real time); sent in thousandths.
  bool set_rate(double factor);
  bool set_dbg(int64_t modes);
  bool set_event_mask(uint16_t mask);
  bool begin_batch();
  bool end_batch();
  bool in_batch() const { return in_batch_; }

  std::optional<MoteCount> get_mote_count();
  std::optional<VariableResolveResponse> resolve(uint16_t mote, const std::string& name);
  // A variable's bytes. nullopt (kind unserved) when the simulator could not
  // read it: its simulation thread did not get to the read in time.
  std::optional<VariableRequestResponse> request(uint32_t addr, uint8_t length);

  // Low level, for tests: raw bytes, and the simulator's acknowledgement.
  bool send_raw(std::span<const uint8_t> bytes);
  bool read_ack(milliseconds timeout);

  Connection& connection() { return connection_; }
  const ClientError& error() const { return connection_.error(); }

 private:
  Connection connection_;
  milliseconds timeout_{5000};
  bool in_batch_ = false;
};

// Builds a VEX_Msg for injection: destination, active-message type and data
// (at most 96 bytes; length set to the data's size).
VEX_Msg make_message(uint16_t addr, uint8_t type, std::span<const uint8_t> data);

}  // namespace ctl

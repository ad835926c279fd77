#pragma once
// A session with one simulation: a brelo of our own started on free ports,
// or one already running that we attach to. The session applies a compiled
// query plan (ADC values, link probabilities, operator messages in order,
// paced by mote 0's radio), then pumps the simulation's events to callbacks, decoding
// the results mote 0 sends to the host on the way.
//
// A simulation we start waits (-gui) until the session watches its events,
// so everything applied before the first pump happens before any mote boots;
// it ends with the session. A simulation we attach to runs on without us, so
// the session watches it before it applies anything and leaves it running.
//
// Failures are return values, with the reason in error().

#include <chrono>
#include <cstdint>
#include <deque>
#include <functional>
#include <optional>
#include <string>

#include "control/client/control_client.hpp"
#include "lib/process.hpp"
#include "queryfile/query_compile.hpp"
#include "queryfile/result_record.hpp"

namespace brelo_host {

// Virtual time after which a forwarded message never seen leaving mote 0
// counts as gone (see Session::apply).
constexpr int64_t FORWARD_TIMEOUT = TICKS_PER_SECOND;

// A mote that starts a query opens its remote streams at once, and the OPEN
// it sends is neither acknowledged nor repeated. Mote 0 forwards nothing
// else while a start is on its way, nor for this long after it left, so the
// OPEN does not meet mote 0's next forward on the air.
constexpr int64_t START_GAP = TICKS_PER_SECOND / 100;

// A rate for "as fast as it goes": no run comes near a million times real
// time, and its thousandths fit the field brelo reports rates in.
constexpr double UNLIMITED_RATE = 1000000;

// How to start a simulation of our own.
struct SimulationSettings {
  std::string program;       // empty: the brelo beside this program
  int motes = 1;
  uint32_t seed = 1;
  int boot_window = 1;       // virtual seconds over which the motes boot
  double rate = 20;          // at most this many times faster than real time
  bool fast = false;         // brelo's -fast
  uint16_t command_port = 0;  // its command port (events on the next); 0: a free pair
  int64_t until = 30;        // whole virtual seconds, then it ends
  bool random_adc = false;
  bool lossy_radio = false;  // link probabilities count only under it
  std::string lossy_file;    // the lossy model's links (-rf=); empty: lossy.nss
  std::optional<uint16_t> event_mask;  // the events it sends; nullopt: all
  std::string stats_file;    // -stats=: its statistics file; empty: none
  std::string energy_file;   // -energy=: its energy figures; empty: the defaults
  std::string trace_file;    // a packet trace (pcap) it writes (-trace=); empty: none
  std::string errors_file;   // its standard error is appended there; empty: ours
};

// The simulation a plan asks for (the rate and program left as they are).
SimulationSettings settings_for(const query_file::Plan& plan);

struct SessionError {
  enum class Kind {
    none,
    not_running,   // nothing listens on the port we attach to
    went_away,     // a connection failed; text: the client's reason
    start_failed,  // text: why the simulation could not start
    unclean_end,   // the simulation we started did not exit with status 0
  };
  Kind kind = Kind::none;
  std::string text;
};

struct PumpHandlers {
  // A result mote 0 sent to the host, read by the plan's layouts.
  std::function<void(const query_file::Result&)> result;
  // Every event, results included.
  std::function<void(const ctl::Event&)> event;
  // About four times a second: the virtual time reached, events seen so far.
  std::function<void(int64_t now, int64_t events)> progress;
  // Asked between events; true ends the pump.
  std::function<bool()> stop;
};

class Session {
 public:
  explicit Session(std::chrono::milliseconds timeout = std::chrono::milliseconds(5000))
      : timeout_(timeout) {}
  Session(const Session&) = delete;
  Session& operator=(const Session&) = delete;

  bool start(const SimulationSettings& settings);
  bool attach(uint16_t command_port);

  // The mote count reply: how many motes, and the current virtual time.
  std::optional<ctl::MoteCount> status();

  // Sets the plan's ADC values and link probabilities and starts handing its
  // operator messages to mote 0's serial port, in order, each no earlier
  // than its planned time. Results are read by its layouts from now on.
  //
  // Messages for other motes are paced by mote 0's radio: at most
  // FORWARD_QUEUE_LENGTH of them are handed over and not yet seen leaving
  // mote 0 (its radio-message-sent events), so its forward queue never
  // overflows. pump() hands over the next one while it holds the event of
  // the last departure unacknowledged, so the simulation is still at that
  // moment and the same run is installed at the same ticks every time. A
  // message for mote 0 itself waits only until the forwards before it have
  // left, so that motes act in the plan's order; so does a message for a mote
  // out of mote 0's reach, which goes straight into that mote's radio
  // receiver (TimedMessage::direct), a start among them followed by
  // query_file::DIRECT_START_GAP of quiet. Should a departure never be
  // seen (an event mask set by someone else, a message the engine dropped),
  // the oldest forward counts as gone after FORWARD_TIMEOUT of virtual time
  // without progress.
  bool apply(const query_file::Plan& plan);

  // Per message of the applied plan: the virtual time it left mote 0's radio
  // (or, for mote 0 and motes installed directly, reached the mote); -1
  // while not known.
  const std::vector<int64_t>& message_times() const { return message_times_; }
  // True once every message of the plan has been handed over and seen leave.
  bool installed() const;

  // Hands events to `handlers` until virtual time `until` (ticks), `stop`,
  // or the end of the simulation. A simulation we started ends by itself at
  // its time limit, which counts as success; results after `until` are
  // dropped.
  bool pump(int64_t until, const PumpHandlers& handlers);

  // Closes the connections and ends a simulation we started (as Ctrl-C
  // would, killing it after 10 s). False when it did not end cleanly.
  bool end();

  const SessionError& error() const { return error_; }
  // True from a successful start() until end().
  bool started() const { return started_; }
  uint16_t command_port() const { return port_; }
  // The program and arguments of the simulation start() started.
  const std::vector<std::string>& command_line() const { return command_line_; }
  // For commands the session does not offer itself.
  ctl::CommandClient& commands() { return commands_; }

 private:
  bool fail(const ctl::ClientError& error);
  bool fail(SessionError::Kind kind, std::string text);
  bool watch_events();
  bool is_start_elsewhere(std::size_t message) const;
  bool hand_over(int64_t now);
  bool departed(const ctl::Event& event);
  bool install_timed_out();
  void deliver(const ctl::Event& event, int64_t until, const PumpHandlers& handlers);

  std::chrono::milliseconds timeout_;
  Process process_;
  ctl::CommandClient commands_;
  ctl::EventClient events_;
  bool started_ = false;
  bool watching_ = false;
  uint16_t port_ = 0;
  std::vector<std::string> command_line_;
  query_file::Plan plan_;
  int64_t now_ = 0;
  int64_t events_seen_ = 0;
  SessionError error_;
  // The event mask asked for at start; widened to radio events while
  // messages are being forwarded.
  std::optional<uint16_t> event_mask_;
  bool mask_widened_ = false;
  // Installation: the next message to hand over, the forwards handed over
  // and not yet seen leaving (oldest first), and the last progress.
  std::size_t next_message_ = 0;
  std::deque<std::size_t> in_flight_;
  int64_t last_progress_ = 0;
  int64_t last_handed_ = 0;  // the time of the last message handed over
  int64_t hold_until_ = 0;   // nothing is handed over before (see START_GAP)
  std::vector<int64_t> message_times_;
};

}  // namespace brelo_host

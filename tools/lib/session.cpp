#include "lib/session.hpp"

#include <signal.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <thread>

#include "lib/ports.hpp"
#include "protocol/limits.hpp"
#include "protocol/operator_messages.hpp"
#include "queryfile/result_names.hpp"

namespace brelo_host {
namespace {
using std::chrono::milliseconds;
using Clock = std::chrono::steady_clock;

std::vector<std::string> brelo_arguments(const SimulationSettings& s, uint16_t port) {
  // Thousandths are what brelo keeps of a rate; "%g" would round a large
  // one up past the largest it can report. Trailing zeros go ("20", "0.5").
  char text[32];
  std::snprintf(text, sizeof text, "%.3f", s.rate);
  std::string rate = text;
  rate.erase(rate.find_last_not_of('0') + 1);
  if (rate.back() == '.') rate.pop_back();
  std::vector<std::string> args = {"-gui",
                                   "-nodbgout",
                                   "-port=" + std::to_string(port),
                                   "-seed=" + std::to_string(s.seed),
                                   "-b=" + std::to_string(s.boot_window),
                                   "-l=" + rate,
                                   "-t=" + std::to_string(s.until)};
  if (s.fast) args.push_back("-fast");
  if (s.random_adc) args.push_back("-a=random");
  if (!s.trace_file.empty()) args.push_back("-trace=" + s.trace_file);
  if (!s.lossy_file.empty()) {
    args.push_back("-rf=" + s.lossy_file);
  } else if (s.lossy_radio) {
    args.push_back("-r=lossy");
  }
  if (!s.stats_file.empty()) args.push_back("-stats=" + s.stats_file);
  if (!s.energy_file.empty()) args.push_back("-energy=" + s.energy_file);
  args.push_back(std::to_string(s.motes));
  return args;
}
}  // namespace

SimulationSettings settings_for(const query_file::Plan& plan) {
  SimulationSettings s;
  s.motes = plan.motes;
  s.seed = plan.seed;
  s.boot_window = static_cast<int>(query_file::BOOT_WINDOW);
  s.until = static_cast<int64_t>(plan.until);
  s.random_adc = plan.random_adc;
  // Link probabilities only count under the lossy radio model (one cell of
  // perfect links unless a lossy.nss file in the current folder says more).
  s.lossy_radio = !plan.links.empty() || !plan.topology.empty();
  // Absolute, so that it names the same file wherever brelo runs.
  if (!plan.topology.empty()) s.lossy_file = std::filesystem::absolute(plan.topology).string();
  return s;
}

bool Session::fail(const ctl::ClientError& error) {
  if (error.kind == ctl::ErrorKind::refused) return fail(SessionError::Kind::not_running, "");
  return fail(SessionError::Kind::went_away, error.text);
}

bool Session::fail(SessionError::Kind kind, std::string text) {
  error_ = {kind, std::move(text)};
  return false;
}

bool Session::start(const SimulationSettings& settings) {
  uint16_t port = settings.command_port;
  if (port == 0) {
    port = free_port_pair();
  } else if (!port_pair_is_free(port)) {
    // Another simulation there would answer in place of ours.
    return fail(SessionError::Kind::start_failed,
                "port " + std::to_string(port) + " or " + std::to_string(port + 1) +
                    " is in use (another simulation?); choose other ports with --port");
  }
  Launch launch;
  launch.program = settings.program.empty() ? brelo_beside_this_program() : settings.program;
  launch.argv = {launch.program};
  for (std::string& arg : brelo_arguments(settings, port)) launch.argv.push_back(std::move(arg));
  // Results come through the control ports; its complaints stay visible.
  launch.environment = environment_with("DBG", "");
  launch.out = Output::discard;
  if (!settings.errors_file.empty()) {
    launch.err = Output::file;
    launch.output_file = settings.errors_file;
  }
  // Ctrl-C reaches only us; we then end it in order. It ends with us.
  launch.own_process_group = true;
  launch.end_with_parent = true;
  command_line_ = launch.argv;
  std::string why;
  if (!process_.start(launch, &why)) return fail(SessionError::Kind::start_failed, why);
  // Its ports open once it has set up; until then connections are refused.
  auto deadline = Clock::now() + std::chrono::seconds(10);
  while (!commands_.connect(port, milliseconds(1000))) {
    if (!process_.running() || Clock::now() > deadline) {
      return fail(SessionError::Kind::start_failed,
                  launch.program + " did not open its control ports");
    }
    std::this_thread::sleep_for(milliseconds(20));
  }
  commands_.set_timeout(timeout_);
  port_ = port;
  started_ = true;
  event_mask_ = settings.event_mask;
  if (settings.event_mask && !commands_.set_event_mask(*settings.event_mask)) {
    return fail(commands_.error());
  }
  return true;
}

bool Session::attach(uint16_t command_port) {
  commands_.set_timeout(timeout_);
  port_ = command_port;
  return commands_.connect(command_port, timeout_) || fail(commands_.error());
}

std::optional<ctl::MoteCount> Session::status() {
  auto count = commands_.get_mote_count();
  if (!count) fail(commands_.error());
  return count;
}

bool Session::watch_events() {
  if (watching_) return true;
  if (!events_.connect(static_cast<uint16_t>(port_ + 1), timeout_)) return fail(events_.error());
  watching_ = true;
  return true;
}

bool Session::apply(const query_file::Plan& plan) {
  plan_ = plan;
  // A running simulation does not wait for us: watch before installing
  // anything, so that no early result passes unseen.
  if (!started_ && !watch_events()) return false;
  for (const query_file::Plan::Adc& a : plan.adc) {
    if (!commands_.set_adc_value(a.mote, a.port, a.value)) return fail(commands_.error());
  }
  for (const query_file::LinkSetting& l : plan.links) {
    if (!commands_.set_link_probability(l.from, l.to, l.probability)) {
      return fail(commands_.error());
    }
  }
  next_message_ = 0;
  in_flight_.clear();
  last_progress_ = now_;
  last_handed_ = 0;
  hold_until_ = 0;
  message_times_.assign(plan.messages.size(), -1);
  // Departures are radio events; the mask we were asked for may leave them
  // out, so let them through until the last forward has left.
  const bool forwards = std::any_of(plan.messages.begin(), plan.messages.end(),
                                    [](const query_file::TimedMessage& m) { return m.to != 0 && !m.direct; });
  if (event_mask_ && forwards) {
    if (!commands_.set_event_mask(*event_mask_ | ctl::AM_RADIOMSGSENTEVENT)) {
      return fail(commands_.error());
    }
    mask_widened_ = true;
  }
  if (!hand_over(now_)) return false;
  // A simulation we started waits (-gui) for this connection to boot.
  return watch_events();
}

bool Session::installed() const {
  return next_message_ == plan_.messages.size() && in_flight_.empty();
}

bool Session::is_start_elsewhere(std::size_t message) const {
  const query_file::TimedMessage& m = plan_.messages[message];
  return m.to != 0 && m.message.msg_type == protocol::CODE_START_QUERY;  // forwarded or direct
}

// Hands mote 0 the messages that may go now (see apply).
bool Session::hand_over(int64_t now) {
  while (next_message_ < plan_.messages.size()) {
    const query_file::TimedMessage& m = plan_.messages[next_message_];
    const bool forward = m.to != 0 && !m.direct;
    if (!forward || is_start_elsewhere(next_message_)
            ? !in_flight_.empty()
            : in_flight_.size() >= protocol::FORWARD_QUEUE_LENGTH) {
      break;
    }
    if (!in_flight_.empty() && is_start_elsewhere(in_flight_.back())) break;
    // Commands due on the same tick may run in any order: one tick apart
    // at least keeps the plan's order.
    const int64_t time = std::max({m.time, now, last_handed_ + 1, hold_until_});
    last_handed_ = time;
    std::span<const uint8_t> bytes = operator_messages::bytes_of(m.message);
    if (m.direct) {
      // Straight into the mote's radio receiver, as mote 0 would have sent it.
      if (!commands_.inject_radio(m.to, ctl::make_message(m.to, AM_RADIOMSG, bytes), time)) {
        return fail(commands_.error());
      }
      if (is_start_elsewhere(next_message_)) hold_until_ = time + query_file::DIRECT_START_GAP;
    } else if (!commands_.inject_uart(0, ctl::make_message(m.to, AM_OPERATORMSG, bytes), time)) {
      return fail(commands_.error());
    }
    if (forward) {
      in_flight_.push_back(next_message_);
    } else {
      message_times_[next_message_] = time;
    }
    last_progress_ = std::max(last_progress_, time);
    ++next_message_;
  }
  if (mask_widened_ && installed()) {
    mask_widened_ = false;
    if (!commands_.set_event_mask(*event_mask_)) return fail(commands_.error());
  }
  return true;
}

// Follows an operator message leaving mote 0's radio; true when it was one
// of ours. Forwards leave in order; one lost before it is left to the
// timeout rather than guessed, so the window never overfills the queue.
bool Session::departed(const ctl::Event& event) {
  const auto* radio = std::get_if<ctl::RadioMessageSent>(&event.body);
  if (radio == nullptr || event.header.moteID != 0 || radio->message.type != AM_RADIOMSG) {
    return false;
  }
  for (auto i = in_flight_.begin(); i != in_flight_.end(); ++i) {
    const query_file::TimedMessage& m = plan_.messages[*i];
    if (m.to != radio->message.addr) continue;
    std::span<const uint8_t> bytes = operator_messages::bytes_of(m.message);
    if (std::memcmp(bytes.data(), radio->message.data, bytes.size()) != 0) continue;
    message_times_[*i] = event.header.time;
    if (is_start_elsewhere(*i)) hold_until_ = event.header.time + START_GAP;
    in_flight_.erase(i);
    last_progress_ = event.header.time;
    return true;
  }
  return false;
}

// The fallback for a departure never seen: the oldest forward counts as gone.
bool Session::install_timed_out() {
  if (in_flight_.empty() || now_ - last_progress_ < FORWARD_TIMEOUT) return false;
  in_flight_.pop_front();
  last_progress_ = now_;
  return true;
}

void Session::deliver(const ctl::Event& event, int64_t until, const PumpHandlers& handlers) {
  if (handlers.event) handlers.event(event);
  const auto* uart = std::get_if<ctl::UartMessageSent>(&event.body);
  if (uart == nullptr || event.header.moteID != 0 || uart->message.type != AM_MSGUART) return;
  if (event.header.time > until || !handlers.result) return;
  std::span<const uint8_t> data(reinterpret_cast<const uint8_t*>(uart->message.data), 20);
  const query_file::Layout names =
      query_file::result_names(plan_, message_times_, data, event.header.time);
  handlers.result(
      query_file::decode_result(data, names.empty() ? nullptr : &names, event.header.time));
}

bool Session::pump(int64_t until, const PumpHandlers& handlers) {
  if (!watch_events()) return false;
  auto next_check = Clock::now();
  for (;;) {
    if (handlers.stop && handlers.stop()) return true;
    std::optional<ctl::Event> event = events_.next_unacknowledged(milliseconds(100));
    if (event) {
      ++events_seen_;
      now_ = std::max(now_, event->header.time);
      // The simulation waits for the acknowledgement: what a departure lets
      // go is handed over at the moment of the departure.
      if (departed(*event) && !hand_over(event->header.time)) return false;
      if (!events_.acknowledge()) return fail(events_.error());
      deliver(*event, until, handlers);
    } else if (events_.error().kind != ctl::ErrorKind::timeout) {
      // The simulation ended: at its time limit when we started it.
      return started_ || fail(events_.error());
    }
    if (Clock::now() >= next_check) {
      next_check = Clock::now() + milliseconds(250);
      if (auto count = commands_.get_mote_count()) now_ = std::max(now_, count->time);
      if (install_timed_out() && !hand_over(now_)) return false;
      if (handlers.progress) handlers.progress(now_, events_seen_);
      if (!started_ && now_ >= until) return true;
    }
  }
}

bool Session::end() {
  events_.close();
  commands_.close();
  watching_ = false;
  if (!started_) return true;
  started_ = false;
  process_.signal(SIGINT);
  ExitStatus status = process_.wait(std::chrono::seconds(10));
  if (status.exited && status.code == 0) return true;
  return fail(SessionError::Kind::unclean_end, "");
}

}  // namespace brelo_host

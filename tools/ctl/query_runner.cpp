#include "ctl/query_runner.hpp"

#include <signal.h>
#include <unistd.h>

#include <cmath>
#include <cstdio>
#include <fstream>
#include <sstream>
#include <thread>

#include "control/client/control_client.hpp"
#include "ctl/simulation_process.hpp"
#include "ctl/verbs.hpp"
#include "protocol/operator_messages.hpp"
#include "protocol/operators.hpp"
#include "query/query_compile.hpp"

namespace brelo_ctl {
namespace {
using std::chrono::milliseconds;
using namespace query_file;

constexpr const char* program = "brelo-ctl";

volatile sig_atomic_t interrupted = 0;
void on_interrupt(int) { interrupted = 1; }

// Ctrl-C ends the run in order while this lives.
class InterruptGuard {
 public:
  InterruptGuard() {
    interrupted = 0;
    struct sigaction action {};
    action.sa_handler = on_interrupt;
    sigemptyset(&action.sa_mask);
    ::sigaction(SIGINT, &action, &old_int_);
    ::sigaction(SIGTERM, &action, &old_term_);
  }
  ~InterruptGuard() {
    ::sigaction(SIGINT, &old_int_, nullptr);
    ::sigaction(SIGTERM, &old_term_, nullptr);
  }

 private:
  struct sigaction old_int_ {};
  struct sigaction old_term_ {};
};

std::string seconds_text(int64_t ticks) {
  char text[32];
  std::snprintf(text, sizeof text, "%.8f", static_cast<double>(ticks) / TICKS_PER_SECOND);
  return text;
}

void list_messages(const Plan& plan, std::ostream& out) {
  out << plan.messages.size() << " operator messages for " << plan.motes << " motes, until "
      << plan.until << " s:\n";
  for (const TimedMessage& m : plan.messages) {
    char head[96];
    std::snprintf(head, sizeof head, "%12s s  mote %-3u line %-4d %-13s", seconds_text(m.time).c_str(),
                  m.to, m.line, protocol::command_name(m.message.msg_type));
    out << head;
    for (uint8_t b : operator_messages::bytes_of(m.message)) {
      char hex[4];
      std::snprintf(hex, sizeof hex, " %02x", b);
      out << hex;
    }
    out << "\n";
  }
}

bool report_errors(const std::vector<Diagnostic>& errors, std::ostream& err) {
  for (const Diagnostic& d : errors) err << format(d) << "\n";
  if (!errors.empty()) {
    err << errors.size() << (errors.size() == 1 ? " error" : " errors")
        << "; nothing was sent.\n";
  }
  return errors.empty();
}

// The file with the command line's settings, read and checked.
std::optional<QueryFile> read_file(const RunRequest& request, std::ostream& err) {
  std::ifstream in(request.file);
  if (!in) {
    err << program << ": cannot read " << request.file << "\n";
    return std::nullopt;
  }
  std::stringstream text;
  text << in.rdbuf();
  ParseResult parsed = parse(text.str(), request.file);
  std::vector<Diagnostic> errors = parsed.errors;
  QueryFile& file = parsed.file;
  if (request.motes) {
    file.motes = request.motes;
    file.motes_line = 0;
  }
  if (request.until) file.until = request.until;
  if (request.seed) file.seed = request.seed;
  for (const std::string& a : request.adc) {
    for (auto& e : parse_adc_option(a, "--adc", file)) errors.push_back(e);
  }
  for (const std::string& l : request.links) {
    for (auto& e : parse_link_option(l, "--link", file)) errors.push_back(e);
  }
  if (!report_errors(errors, err)) return std::nullopt;
  return file;
}

class Runner {
 public:
  Runner(const RunRequest& request, std::ostream& out, std::ostream& err)
      : request_(request), out_(out), err_(err), writer_(request.format) {}

  int run() {
    std::optional<QueryFile> file = read_file(request_, err_);
    if (!file) return EXIT_USAGE;
    int64_t origin = 0;
    if (request_.attach) {
      // Times in the file count from now.
      if (!connect_commands(request_.command_port)) return failure_status_;
      auto count = commands_.get_mote_count();
      if (!count) return connection_failure(commands_.error());
      origin = count->time;
      file->motes = count->totalMotes;  // the network is the one running
      file->motes_line = 0;
      if (file->random_adc) {
        err_ << request_.file << ": warning: 'adc random' needs a simulation brelo-ctl starts"
             << " (brelo -a=random); the running one keeps its ADC model\n";
      }
    }
    CompileResult compiled = compile(*file, origin);
    for (const Diagnostic& w : compiled.warnings) {
      err_ << w.file << ":" << w.line << ": warning: " << w.text << "\n";
    }
    if (!report_errors(compiled.errors, err_)) return EXIT_USAGE;
    plan_ = std::move(compiled.plan);
    if (request_.check_only) {
      out_ << request_.file << ": no errors; ";
      list_messages(plan_, out_);
      return EXIT_DONE;
    }
    until_ = origin + static_cast<int64_t>(plan_.until * TICKS_PER_SECOND);

    InterruptGuard guard;
    if (!request_.attach) {
      int status = start_simulation();
      if (status != EXIT_DONE) return status;
    }
    int status = prepare();
    if (status == EXIT_DONE) status = watch();
    clear_progress();
    if (!request_.attach) status = end_simulation(status);
    if (request_.progress) err_ << results_ << (results_ == 1 ? " result\n" : " results\n");
    return status;
  }

 private:
  int start_simulation() {
    uint16_t port = free_port_pair();
    char rate[32];
    std::snprintf(rate, sizeof rate, "%g", request_.rate);
    std::vector<std::string> args = {"-gui",
                                     "-nodbgout",
                                     "-port=" + std::to_string(port),
                                     "-seed=" + std::to_string(plan_.seed),
                                     "-b=" + std::to_string(static_cast<int>(BOOT_WINDOW)),
                                     std::string("-l=") + rate,
                                     "-t=" + std::to_string(static_cast<int64_t>(plan_.until))};
    if (plan_.random_adc) args.push_back("-a=random");
    // Link probabilities only count under the lossy radio model (one cell of
    // perfect links unless a lossy.nss file in the current folder says more).
    if (!plan_.links.empty()) args.push_back("-r=lossy");
    args.push_back(std::to_string(plan_.motes));
    std::string brelo = request_.brelo.empty() ? brelo_beside_this_program() : request_.brelo;
    std::string why;
    if (!simulation_.start(brelo, args, &why)) {
      err_ << program << ": " << why << "\n";
      return EXIT_CONNECTION;
    }
    // Its ports open once it has set up; until then connections are refused.
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    for (;;) {
      if (commands_.connect(port, milliseconds(1000))) break;
      if (!simulation_.running() || std::chrono::steady_clock::now() > deadline) {
        err_ << program << ": " << brelo << " did not open its control ports\n";
        return EXIT_CONNECTION;
      }
      std::this_thread::sleep_for(milliseconds(20));
    }
    commands_.set_timeout(request_.timeout);
    port_ = port;
    return EXIT_DONE;
  }

  bool connect_commands(uint16_t port) {
    commands_.set_timeout(request_.timeout);
    port_ = port;
    if (commands_.connect(port, request_.timeout)) return true;
    failure_status_ = connection_failure(commands_.error());
    return false;
  }

  int connection_failure(const ctl::ClientError& error) {
    if (error.kind == ctl::ErrorKind::refused) {
      err_ << program << ": no simulator is listening on 127.0.0.1:" << port_
           << " (start brelo, or leave out --attach to let brelo-ctl start one)\n";
      return EXIT_NOT_RUNNING;
    }
    err_ << program << ": the simulation went away (" << error.text << ")\n";
    return EXIT_CONNECTION;
  }

  // Settings and messages, all sent before the simulation we started boots
  // (it waits for the first watcher), each message at its own virtual time.
  int prepare() {
    if (!request_.attach && !commands_.set_event_mask(ctl::AM_UARTMSGSENTEVENT)) {
      return connection_failure(commands_.error());
    }
    // A running simulation does not wait for us: watch before installing
    // anything, so that no early result passes unseen.
    if (request_.attach && !events_.connect(static_cast<uint16_t>(port_ + 1), request_.timeout)) {
      return connection_failure(events_.error());
    }
    for (const Plan::Adc& a : plan_.adc) {
      if (!commands_.set_adc_value(a.mote, a.port, a.value)) return connection_failure(commands_.error());
    }
    for (const LinkSetting& l : plan_.links) {
      if (!commands_.set_link_probability(l.from, l.to, l.probability)) {
        return connection_failure(commands_.error());
      }
    }
    for (const TimedMessage& m : plan_.messages) {
      VEX_Msg packet = ctl::make_message(m.to, AM_OPERATORMSG, operator_messages::bytes_of(m.message));
      if (!commands_.inject_uart(0, packet, m.time)) return connection_failure(commands_.error());
    }
    // A simulation we started waits (-gui) for this connection to boot.
    if (!request_.attach && !events_.connect(static_cast<uint16_t>(port_ + 1), request_.timeout)) {
      return connection_failure(events_.error());
    }
    return EXIT_DONE;
  }

  int watch() {
    using Clock = std::chrono::steady_clock;
    auto next_check = Clock::now();
    last_progress_ = Clock::now();
    for (;;) {
      if (interrupted) return EXIT_DONE;
      std::optional<ctl::Event> event = events_.next(milliseconds(100));
      if (event) {
        ++events_seen_;
        now_ = std::max(now_, event->header.time);
        show(*event);
      } else if (events_.error().kind != ctl::ErrorKind::timeout) {
        // The simulation ended: at its time limit when we started it.
        if (!request_.attach) return EXIT_DONE;
        return connection_failure(events_.error());
      }
      if (Clock::now() >= next_check) {
        next_check = Clock::now() + milliseconds(250);
        if (auto count = commands_.get_mote_count()) now_ = std::max(now_, count->time);
        progress();
        if (request_.attach && now_ >= until_) return EXIT_DONE;
      }
    }
  }

  void show(const ctl::Event& event) {
    const auto* uart = std::get_if<ctl::UartMessageSent>(&event.body);
    if (uart == nullptr || event.header.moteID != 0 || uart->message.type != AM_MSGUART) return;
    if (event.header.time > until_) return;
    std::span<const uint8_t> data(reinterpret_cast<const uint8_t*>(uart->message.data), 20);
    Result result = decode_result(data, layout_at(plan_, event.header.time), event.header.time);
    clear_progress();
    out_ << writer_.lines(result) << std::flush;
    ++results_;
  }

  void progress() {
    if (!request_.progress) return;
    auto now = std::chrono::steady_clock::now();
    double real = std::chrono::duration<double>(now - last_progress_).count();
    if (real < 0.2) return;
    double virtual_seconds = static_cast<double>(now_) / TICKS_PER_SECOND;
    double speed = (virtual_seconds - last_virtual_) / real;
    double events = static_cast<double>(events_seen_ - last_events_) / real;
    char line[128];
    std::snprintf(line, sizeof line, "\r virtual %.1f of %.0f s | %.0f events/s | %.1fx real time\033[K",
                  virtual_seconds, static_cast<double>(until_) / TICKS_PER_SECOND, events, speed);
    err_ << line << std::flush;
    progress_shown_ = true;
    last_progress_ = now;
    last_virtual_ = virtual_seconds;
    last_events_ = events_seen_;
  }

  void clear_progress() {
    if (!progress_shown_) return;
    err_ << "\r\033[K" << std::flush;
    progress_shown_ = false;
  }

  int end_simulation(int status) {
    events_.close();
    commands_.close();
    simulation_.interrupt();
    std::optional<int> code = simulation_.wait(std::chrono::seconds(10));
    if (status == EXIT_DONE && code != 0) {
      err_ << program << ": the simulation did not end cleanly\n";
      return EXIT_CONNECTION;
    }
    return status;
  }

  const RunRequest& request_;
  std::ostream& out_;
  std::ostream& err_;
  ResultWriter writer_;
  Plan plan_;
  SimulationProcess simulation_;
  ctl::CommandClient commands_;
  ctl::EventClient events_;
  uint16_t port_ = 0;
  int failure_status_ = EXIT_CONNECTION;
  int64_t until_ = 0;
  int64_t now_ = 0;
  int64_t results_ = 0;
  int64_t events_seen_ = 0;
  bool progress_shown_ = false;
  std::chrono::steady_clock::time_point last_progress_;
  double last_virtual_ = 0;
  int64_t last_events_ = 0;
};
}  // namespace

int run_queries(const RunRequest& request, std::ostream& out, std::ostream& err) {
  return Runner(request, out, err).run();
}

}  // namespace brelo_ctl

// brelo-ctl view: a live view of a simulation in the browser. It serves a
// page on 127.0.0.1, forwards the simulation's events to it as they come
// and carries out the page's commands over the command port.

#include <signal.h>

#include <filesystem>

#include "ctl/arguments.hpp"
#include "ctl/interrupt_guard.hpp"
#include "ctl/query_runner.hpp"
#include "ctl/verbs/all.hpp"
#include "ctl/view_commands.hpp"
#include "ctl/view_facts.hpp"
#include "lib/session.hpp"
#include "view/display_events.hpp"
#include "view/view_server.hpp"

namespace brelo_ctl {
namespace {
using brelo_view::Reply;

const Option http_port{.name = "--http-port",
                       .kind = Option::Kind::integer,
                       .value = "P",
                       .help = "serve the page on 127.0.0.1:P (default: a free port)",
                       .whole_low = 0,
                       .whole_high = 65535,
                       .complaint = "--http-port takes a port from 0 to 65535"};
const Option web{.name = "--web",
                 .kind = Option::Kind::text,
                 .value = "DIR",
                 .help = "the page's files (default: web/ beside brelo-ctl)"};
const Option rate{.name = "--rate",
                  .kind = Option::Kind::number,
                  .value = "F",
                  .help = "with FILE: run at most F times faster than real\n"
                          "time (default 1; the page changes it)",
                  .low = 0.001,
                  .high = 1000000,
                  .complaint = "--rate takes a number from 0.001 to 1000000"};
const Option dbg{.name = "--dbg",
                 .kind = Option::Kind::text,
                 .value = "MODES",
                 .help = "with FILE: the debug lines the page shows, named as\n"
                         "in DBG (default boot,usr1)"};
const Option positions{.name = "--positions",
                       .kind = Option::Kind::text,
                       .value = "FILE",
                       .help = "where the motes stand, a 'mote x y' line each (as\n"
                               "brelo-ctl topology --positions writes it; default:\n"
                               "NAME.pos beside the topology file NAME.nss)"};
const Option brelo{.name = "--brelo",
                   .kind = Option::Kind::text,
                   .value = "PATH",
                   .help = "the simulator to start (default: the brelo beside\n"
                           "brelo-ctl)"};

// The speed the clock events report: virtual seconds per wall second over
// the last interval.
class SpeedMeter {
 public:
  double update(int64_t now) {
    auto wall = std::chrono::steady_clock::now();
    double real = std::chrono::duration<double>(wall - last_wall_).count();
    double speed = real > 0 ? static_cast<double>(now - last_ticks_) / TICKS_PER_SECOND / real : 0;
    last_wall_ = wall;
    last_ticks_ = now;
    return speed;
  }

 private:
  std::chrono::steady_clock::time_point last_wall_ = std::chrono::steady_clock::now();
  int64_t last_ticks_ = 0;
};

int session_failure(const brelo_host::Session& session, uint16_t port, std::ostream& err) {
  using Kind = brelo_host::SessionError::Kind;
  const brelo_host::SessionError& error = session.error();
  switch (error.kind) {
    case Kind::not_running:
      err << program << ": no simulator is listening on 127.0.0.1:" << port
          << " (start brelo, or give a query file to let brelo-ctl start one)\n";
      return EXIT_NOT_RUNNING;
    case Kind::start_failed: err << program << ": " << error.text << "\n"; break;
    case Kind::unclean_end: err << program << ": the simulation did not end cleanly\n"; break;
    default: err << program << ": the simulation went away (" << error.text << ")\n"; break;
  }
  return EXIT_CONNECTION;
}

int view(Invocation& call) {
  std::ostream& err = *call.err;
  const auto port = static_cast<uint16_t>(call.integer(http_port).value_or(0));
  const double start_rate = call.number(rate).value_or(1);
  std::string why;
  const int64_t modes = checked(parse_dbg_modes(call.text(dbg).value_or("boot,usr1"), &why), why);

  std::optional<query_file::Plan> plan;
  if (call.words.empty() && (call.has(rate) || call.has(dbg) || call.has(brelo))) {
    throw UsageError{"--rate, --dbg and --brelo are for a simulation view starts from a query FILE;"
                     " a running one keeps its own (brelo-ctl rate and dbg change them)"};
  }
  if (!call.words.empty()) {
    RunRequest request;
    request.file = call.words[0];
    plan = plan_of(request, err);
    if (!plan) return EXIT_USAGE;
  }
  std::string placement = call.text(positions).value_or("");
  if (placement.empty() && plan && !plan->topology.empty()) {
    placement = std::filesystem::path(plan->topology).replace_extension(".pos").string();
  }
  std::optional<std::string> placed = positions_json(placement, call.has(positions), err);
  if (!placed) return EXIT_USAGE;
  const std::string results = results_json(plan);
  const std::string web_dir = brelo_view::find_web_dir(call.text(web).value_or(""), BRELO_WEB_DIR);
  if (!std::filesystem::is_regular_file(std::filesystem::path(web_dir) / "index.html")) {
    err << program << ": warning: no index.html in " << web_dir << " (--web DIR names the page's folder)\n";
  }

  InterruptGuard guard;
  brelo_host::Session session(call.timeout);
  int64_t until = INT64_MAX;
  if (plan) {
    brelo_host::SimulationSettings settings = brelo_host::settings_for(*plan);
    settings.rate = start_rate;
    settings.program = call.text(brelo).value_or("");
    if (call.port_given) settings.command_port = call.command_port;
    if (!session.start(settings)) {
      int status = session_failure(session, call.command_port, err);
      session.end();
      return status;
    }
    err << program << ": brelo runs on ports " << session.command_port() << " (commands) and "
        << session.command_port() + 1 << " (events)\n";
    until = static_cast<int64_t>(plan->until * TICKS_PER_SECOND);
    if (!session.commands().set_dbg(modes) || !session.apply(*plan)) {
      int status = session_failure(session, session.command_port(), err);
      session.end();
      return status;
    }
  } else if (!session.attach(call.command_port)) {
    return session_failure(session, call.command_port, err);
  }

  brelo_view::ViewServer server(web_dir);
  SimulationFacts facts;
  ViewCommands commands(session.command_port(), call.timeout, [&server](int64_t time, uint16_t mote, bool on) {
    server.publish(brelo_view::power_event(time, mote, on));
  });
  server.on_get("/api/info", [&] {
    return Reply{200, facts.json(commands.rate_set(), *placed, results)};
  });
  server.on_get("/api/variables", [] { return Reply{200, variable_names_json()}; });
  server.on_post("/api/rate", [&commands](const auto& body) { return commands.rate(body); });
  server.on_post("/api/mote", [&commands](const auto& body) { return commands.mote(body); });
  server.on_post("/api/link", [&commands](const auto& body) { return commands.link(body); });
  server.on_post("/api/var", [&commands](const auto& body) { return commands.variable(body); });
  server.on_post("/api/serial", [&commands](const auto& body) { return commands.serial(body); });
  if (!server.start(port)) {
    err << program << ": cannot serve on 127.0.0.1:" << port << " (in use? choose another with --http-port)\n";
    session.end();
    return EXIT_USAGE;
  }
  err << program << ": view at http://127.0.0.1:" << server.port() << "/" << std::endl;

  // The pump acknowledges every event as soon as it has read it and only
  // hands the page's queues a copy (they never wait), so the view paces the
  // simulation no more than brelo-ctl watch would.
  SpeedMeter speed;
  brelo_host::PumpHandlers handlers;
  handlers.event = [&](const ctl::Event& event) {
    if (const auto* init = std::get_if<ctl::VarnixInitEvent>(&event.body)) facts.initial(*init);
    if (auto shown = brelo_view::display_event(event)) server.publish(*shown);
  };
  if (plan) {
    handlers.result = [&server](const query_file::Result& result) {
      server.publish(brelo_view::result_event(result));
    };
  }
  handlers.progress = [&](int64_t now, int64_t) {
    facts.reached(now);
    server.publish(brelo_view::clock_event(now, speed.update(now)));
  };
  handlers.stop = [] { return interrupt_requested(); };
  int status = EXIT_DONE;
  if (!session.pump(until, handlers)) status = session_failure(session, session.command_port(), err);
  server.stop();
  if (!session.end() && status == EXIT_DONE) status = session_failure(session, session.command_port(), err);
  return status;
}
}  // namespace

Verb view_verb() {
  return {.name = "view",
          .summary = "watch and steer a simulation in the browser",
          .usage = "usage: brelo-ctl view [FILE] [--http-port P] [--web DIR] [--rate F]\n"
                   "                      [--dbg MODES] [--positions FILE] [--brelo PATH]\n"
                   "Serves a page on 127.0.0.1 that shows the simulation live: its motes, their\n"
                   "LEDs, the packets they send, the results and the debug lines, and lets you\n"
                   "pause it, set its rate, switch motes, set links, read variables and send\n"
                   "serial messages. Standard error gives the page's address.\n"
                   "Without FILE it watches the simulation running on --port; with a query\n"
                   "FILE it starts one as brelo-ctl run does and ends with it, at the file's\n"
                   "time limit or on Ctrl-C.\n",
          .options = {http_port, web, rate, dbg, positions, brelo},
          .help_column = 17,
          .min_words = 0,
          .max_words = 1,
          .run = view};
}

}  // namespace brelo_ctl

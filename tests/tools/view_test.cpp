// brelo-ctl view end to end, without a browser: the page's facts, the live
// event stream (LEDs, packets, results), commands that act on the
// simulation or are refused with a reason, and a page that stops reading
// without holding up the simulation.

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <httplib.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

#include <functional>
#include <regex>
#include <thread>

#include "../control/brelo_process.hpp"
#include "control/client/control_client.hpp"
#include "lib/json_reader.hpp"

namespace view_test {
namespace {
using brelo_host::JsonValue;
using control_test::ChildProcess;
using std::chrono::milliseconds;
using Clock = std::chrono::steady_clock;

JsonValue json(const std::string& text) {
  std::string why;
  std::optional<JsonValue> value = brelo_host::parse_json(text, why);
  EXPECT_TRUE(value) << why << ": " << text;
  return value.value_or(JsonValue{});
}

// brelo-ctl view with `args`, once it says where it serves.
class View {
 public:
  explicit View(std::vector<std::string> args) : http_port_(control_test::free_port_pair()) {
    std::vector<std::string> argv = {"brelo-ctl"};
    argv.insert(argv.end(), args.begin(), args.end());
    argv.insert(argv.end(), {"--http-port", std::to_string(http_port_)});
    process_ = std::make_unique<ChildProcess>(BRELO_CTL_BINARY, argv, std::vector<std::string>{});
    const std::string url = "view at http://127.0.0.1:" + std::to_string(http_port_) + "/";
    auto deadline = Clock::now() + control_test::kWait;
    while (process_->err().find(url) == std::string::npos && Clock::now() < deadline) {
      std::this_thread::sleep_for(milliseconds(20));
    }
    serving_ = process_->err().find(url) != std::string::npos;
  }

  bool serving() const { return serving_; }
  uint16_t http_port() const { return http_port_; }
  ChildProcess& process() { return *process_; }

  httplib::Client client() const {
    httplib::Client c("127.0.0.1", http_port_);
    c.set_read_timeout(10, 0);
    return c;
  }
  JsonValue get(const std::string& path) const {
    httplib::Result r = client().Get(path.c_str());
    EXPECT_TRUE(r && r->status == 200) << path;
    return r ? json(r->body) : JsonValue{};
  }
  // The status and the answer of a command.
  std::pair<int, JsonValue> post(const std::string& path, const std::string& body) const {
    httplib::Result r = client().Post(path.c_str(), body, "application/json");
    if (!r) return {0, JsonValue{}};
    return {r->status, json(r->body)};
  }

  struct Message {
    std::string type;
    JsonValue data;
  };
  // Reads the event stream, handing `each` every message, until it returns
  // true; false when the stream ended or `limit` passed first.
  bool read_events(const std::function<bool(const Message&)>& each, milliseconds limit) const {
    auto deadline = Clock::now() + limit;
    std::string pending;
    bool done = false;
    client().Get("/api/events", [&](const char* data, std::size_t length) {
      pending.append(data, length);
      for (std::size_t end; !done && (end = pending.find("\n\n")) != std::string::npos;) {
        std::string block = pending.substr(0, end);
        pending.erase(0, end + 2);
        std::smatch m;
        static const std::regex form("^event: (\\w+)\ndata: (.*)$");
        if (std::regex_match(block, m, form)) done = each(Message{m[1], json(m[2])});
      }
      return !done && Clock::now() < deadline;
    });
    return done;
  }

 private:
  uint16_t http_port_;
  std::unique_ptr<ChildProcess> process_;
  bool serving_ = false;
};

double number(const JsonValue& v, const char* key) { return v.number_at(key, -1); }

TEST(View, ShowsACollectionLiveAndCarriesOutThePagesCommands) {
  View view({"view", EXAMPLES_DIR "/collection.query", "--rate", "2"});
  ASSERT_TRUE(view.serving()) << view.process().err();

  JsonValue info = view.get("/api/info");
  EXPECT_EQ(number(info, "motes"), 4);
  ASSERT_NE(info.find("radio_model"), nullptr);
  EXPECT_EQ(info.find("radio_model")->text, "simple");
  EXPECT_EQ(number(info, "rate"), 2);
  EXPECT_EQ(info.find("positions")->kind, JsonValue::Kind::null);
  const JsonValue* fields = info.find("results")->find("fields");
  ASSERT_TRUE(fields != nullptr && fields->items.size() == 1);
  EXPECT_EQ(fields->items[0].text, "light");

  httplib::Result page = view.client().Get("/");
  ASSERT_TRUE(page);
  EXPECT_EQ(page->status, 200);
  EXPECT_EQ(page->get_header_value("Content-Type").rfind("text/html", 0), 0u);

  // An LED change, a packet, a result of the right reading, the clock.
  std::set<std::string> seen;
  bool stream_ok = view.read_events(
      [&](const View::Message& m) {
        if (m.type == "result") {
          const int mote = static_cast<int>(number(m.data, "mote"));
          const double light = m.data.find("fields")->number_at("light", -1);
          EXPECT_EQ(light, mote == 1 ? 100 : mote == 2 ? 200 : 250) << "mote " << mote;
        }
        seen.insert(m.type);
        return seen.count("led") && seen.count("radio") && seen.count("result") && seen.count("clock");
      },
      milliseconds(20000));
  EXPECT_TRUE(stream_ok) << "seen " << seen.size() << " kinds";

  // Mote 1 switched off: the simulation's own events confirm it, mote 1
  // sends nothing more while mote 2 goes on sending once a second.
  auto [status, answer] = view.post("/api/mote", R"({"mote":1,"on":false})");
  EXPECT_EQ(status, 200);
  EXPECT_NE(answer.find("ok"), nullptr);
  double off_at = -1;
  int late_from_1 = 0;
  bool confirmed = view.read_events(
      [&](const View::Message& m) {
        const double time = number(m.data, "time");
        const int mote = static_cast<int>(number(m.data, "mote"));
        if (m.type == "power" && mote == 1 && m.data.find("on")->boolean == false) off_at = time;
        if (off_at < 0) return false;
        if ((m.type == "radio" || m.type == "led") && mote == 1 && time > off_at + 0.5) ++late_from_1;
        return m.type == "radio" && mote == 2 && time > off_at + 3;
      },
      milliseconds(20000));
  EXPECT_TRUE(confirmed) << "off at " << off_at;
  EXPECT_EQ(late_from_1, 0);

  // Commands the simulation cannot carry out are refused with the reason.
  auto refused = [&](const char* path, const char* body, const char* reason) {
    auto [code, reply] = view.post(path, body);
    EXPECT_EQ(code, 400) << path << " " << body;
    const JsonValue* error = reply.find("error");
    ASSERT_NE(error, nullptr) << path << " " << body;
    EXPECT_NE(error->text.find(reason), std::string::npos) << error->text;
  };
  refused("/api/mote", R"({"mote":9,"on":false})", "there is no mote 9");
  refused("/api/link", R"({"from":1,"to":0,"p":0.5})", "only under the lossy radio model");
  refused("/api/var", R"({"mote":0,"name":"NoSuch$thing"})", "has no variable \"NoSuch$thing\"");
  refused("/api/rate", R"({"rate":-1})", "\"rate\" must be");
  refused("/api/serial", R"({"mote":0,"hex":"zz"})", "\"hex\"");
  refused("/api/mote", "not json", "not JSON");

  auto [var_status, variable] = view.post("/api/var", R"({"mote":0,"name":"TimerM$mState"})");
  EXPECT_EQ(var_status, 200);
  ASSERT_NE(variable.find("hex"), nullptr);
  EXPECT_TRUE(std::regex_match(variable.find("hex")->text, std::regex("([0-9a-f]{2} ){3}[0-9a-f]{2}")))
      << variable.find("hex")->text;
  EXPECT_EQ(view.post("/api/serial", R"({"mote":0,"hex":"01 02"})").first, 200);

  view.process().signal(SIGINT);
  control_test::ExitStatus end = view.process().wait();
  EXPECT_TRUE(end.exited && end.code == 0) << view.process().state() << view.process().err();
}

// A page whose connection stays open but never reads fills the socket
// buffers; the view acknowledges every event regardless, so the simulation
// goes on in every second of wall time.
TEST(View, APageThatStopsReadingNeverHoldsUpTheSimulation) {
  // -nodbgout: the debug lines still reach the view as events, but brelo
  // never waits for the test runner to drain its standard output, which
  // would hold virtual time still for reasons of no concern here.
  control_test::Brelo brelo({"-l=inf", "-b=0", "-nodbgout", "4"}, "all,-queue");
  ASSERT_TRUE(brelo.wait_until_listening());
  View view({"--port", std::to_string(brelo.command_port()), "view"});
  ASSERT_TRUE(view.serving()) << view.process().err();

  const int stalled = ::socket(AF_INET, SOCK_STREAM, 0);
  int small = 4096;
  ::setsockopt(stalled, SOL_SOCKET, SO_RCVBUF, &small, sizeof small);
  sockaddr_in to{};
  to.sin_family = AF_INET;
  to.sin_port = htons(view.http_port());
  to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  ASSERT_EQ(::connect(stalled, reinterpret_cast<sockaddr*>(&to), sizeof to), 0);
  const std::string request = "GET /api/events HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n";
  ASSERT_EQ(::write(stalled, request.data(), request.size()), static_cast<ssize_t>(request.size()));

  ctl::CommandClient commands;
  ASSERT_TRUE(commands.connect(brelo.command_port(), control_test::kWait));
  auto time_now = [&] {
    auto count = commands.get_mote_count();
    return count ? count->time : -1;
  };
  int64_t before = time_now();
  for (int second = 0; second < 6; ++second) {
    std::this_thread::sleep_for(milliseconds(1000));
    int64_t now = time_now();
    EXPECT_GT(now, before) << "stood still in second " << second << " (virtual time " << before
                           << " then " << now << "; -1: the time could not be read)";
    before = now;
  }
  // The view still answers its other pages.
  EXPECT_EQ(number(view.get("/api/info"), "motes"), 4);
  ::close(stalled);

  view.process().signal(SIGINT);
  control_test::ExitStatus end = view.process().wait();
  EXPECT_TRUE(end.exited && end.code == 0) << view.process().state() << view.process().err();
  brelo.expect_clean_end();
}

}  // namespace
}  // namespace view_test

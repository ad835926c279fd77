#pragma once
// The view's web server, on 127.0.0.1 only: the page's files from a
// folder, the simulation's events as Server-Sent Events (GET /api/events),
// and JSON routes the caller provides (GET for facts, POST for commands).
//
// Every open page gets its own DisplayQueue; publish() pushes an event to
// all of them and never waits, so a slow or closed page cannot hold up the
// thread that reads the simulation's events. A page whose connection fails
// (a closed tab) is forgotten; one that stays connected but does not read
// loses surplus events (see display_queue.hpp) and its connection fails at
// the server's write timeout.
//
// A page that opens late first receives every mote's latest LED state and
// power change, so that it never shows LEDs from before it connected as off.

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "lib/json_reader.hpp"
#include "view/display_queue.hpp"

namespace httplib {
class Server;
}

namespace brelo_view {

// An answer to the page: an HTTP status and a JSON body.
struct Reply {
  int status = 200;
  std::string json;
};
Reply ok(const std::string& members = "");  // {"ok":true,<members>}
Reply refusal(const std::string& why);      // 400 {"error":"why"}

class ViewServer {
 public:
  explicit ViewServer(std::string web_dir);
  ~ViewServer();
  ViewServer(const ViewServer&) = delete;
  ViewServer& operator=(const ViewServer&) = delete;

  // Routes, added before start().
  void on_get(const std::string& path, std::function<Reply()> handler);
  // The body is parsed first: one that is not a JSON object is refused
  // without reaching the handler.
  void on_post(const std::string& path, std::function<Reply(const brelo_host::JsonValue&)> handler);

  // Listens on 127.0.0.1:`port` (0: a free port) and serves from a thread
  // of its own. False when the port cannot be had.
  bool start(uint16_t port);
  uint16_t port() const { return port_; }
  // Ends every page's event stream and stops serving.
  void stop();

  void publish(const DisplayEvent& event);
  // Pages connected to the event stream now.
  std::size_t pages() const;

 private:
  std::shared_ptr<DisplayQueue> open_page();
  void close_page(const std::shared_ptr<DisplayQueue>& page);

  std::unique_ptr<httplib::Server> server_;
  std::thread thread_;
  uint16_t port_ = 0;
  mutable std::mutex pages_mutex_;
  std::vector<std::shared_ptr<DisplayQueue>> pages_;
  // The latest LED state and power change per mote, for pages to come.
  std::map<int, DisplayEvent> leds_;
  std::map<int, DisplayEvent> power_;
  bool stopped_ = false;
};

// The folder of the page's files: `given` when not empty, else web/ beside
// the running program, else `fallback` (the source tree's).
std::string find_web_dir(const std::string& given, const std::string& fallback);

}  // namespace brelo_view

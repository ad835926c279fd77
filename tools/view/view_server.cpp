#include "view/view_server.hpp"

#include <unistd.h>

#include <algorithm>
#include <filesystem>

#include <httplib.h>

#include "lib/json.hpp"

namespace brelo_view {
namespace {
constexpr const char* json_type = "application/json";
// A page waits at most this long between two messages: a comment line
// that keeps proxies from closing the stream and tells a closed tab apart.
constexpr std::chrono::milliseconds keep_alive_every(2000);
// Enough threads for a few tabs, each holding an event stream plus the
// browser's parallel connections for files and commands.
constexpr std::size_t server_threads = 16;
}  // namespace

Reply ok(const std::string& members) {
  return {200, "{\"ok\":true" + (members.empty() ? "" : "," + members) + "}"};
}

Reply refusal(const std::string& why) {
  return {400, brelo_host::JsonObject().text("error", why).str()};
}

ViewServer::ViewServer(std::string web_dir) : server_(std::make_unique<httplib::Server>()) {
  httplib::Server& s = *server_;
  s.new_task_queue = [] { return new httplib::ThreadPool(server_threads); };
  s.set_mount_point("/", web_dir);
  s.set_file_extension_and_mimetype_mapping("html", "text/html; charset=utf-8");
  s.set_file_extension_and_mimetype_mapping("js", "text/javascript");
  s.set_file_extension_and_mimetype_mapping("mjs", "text/javascript");
  s.set_file_extension_and_mimetype_mapping("css", "text/css");
  s.set_file_extension_and_mimetype_mapping("png", "image/png");
  s.set_file_extension_and_mimetype_mapping("svg", "image/svg+xml");
  s.set_file_extension_and_mimetype_mapping("json", json_type);
  s.set_keep_alive_timeout(2);
  s.set_write_timeout(5, 0);
  s.Get("/api/events", [this](const httplib::Request&, httplib::Response& res) {
    std::shared_ptr<DisplayQueue> page = open_page();
    res.set_header("Cache-Control", "no-store");
    res.set_chunked_content_provider(
        "text/event-stream",
        [page](std::size_t, httplib::DataSink& sink) {
          std::optional<std::string> batch = page->take(keep_alive_every);
          if (!batch) {
            sink.done();
            return true;
          }
          const std::string& text = batch->empty() ? std::string(": waiting\n\n") : *batch;
          // A failed write is a page gone: returning false ends the stream.
          return sink.write(text.data(), text.size());
        },
        [this, page](bool) { close_page(page); });
  });
}

ViewServer::~ViewServer() { stop(); }

void ViewServer::on_get(const std::string& path, std::function<Reply()> handler) {
  server_->Get(path, [handler](const httplib::Request&, httplib::Response& res) {
    Reply reply = handler();
    res.status = reply.status;
    res.set_header("Cache-Control", "no-store");
    res.set_content(reply.json, json_type);
  });
}

void ViewServer::on_post(const std::string& path,
                         std::function<Reply(const brelo_host::JsonValue&)> handler) {
  server_->Post(path, [handler](const httplib::Request& req, httplib::Response& res) {
    std::string why;
    std::optional<brelo_host::JsonValue> body = brelo_host::parse_json(req.body, why);
    Reply reply;
    if (!body) {
      reply = refusal("the request is not JSON: " + why);
    } else if (body->kind != brelo_host::JsonValue::Kind::object) {
      reply = refusal("the request must be a JSON object");
    } else {
      reply = handler(*body);
    }
    res.status = reply.status;
    res.set_content(reply.json, json_type);
  });
}

bool ViewServer::start(uint16_t port) {
  const char* host = "127.0.0.1";
  if (port == 0) {
    int bound = server_->bind_to_any_port(host);
    if (bound <= 0) return false;
    port_ = static_cast<uint16_t>(bound);
  } else {
    if (!server_->bind_to_port(host, port)) return false;
    port_ = port;
  }
  thread_ = std::thread([this] { server_->listen_after_bind(); });
  return true;
}

void ViewServer::stop() {
  {
    std::lock_guard lock(pages_mutex_);
    if (stopped_) return;
    stopped_ = true;
    for (const auto& page : pages_) page->close();
  }
  server_->stop();
  if (thread_.joinable()) thread_.join();
}

void ViewServer::publish(const DisplayEvent& event) {
  std::lock_guard lock(pages_mutex_);
  if (event.kind == DisplayKind::led) leds_[event.mote] = event;
  if (event.kind == DisplayKind::power) power_[event.mote] = event;
  for (const auto& page : pages_) page->push(event);
}

std::size_t ViewServer::pages() const {
  std::lock_guard lock(pages_mutex_);
  return pages_.size();
}

std::shared_ptr<DisplayQueue> ViewServer::open_page() {
  auto page = std::make_shared<DisplayQueue>();
  std::lock_guard lock(pages_mutex_);
  if (stopped_) {
    page->close();
    return page;
  }
  for (const auto& [mote, event] : power_) page->push(event);
  for (const auto& [mote, event] : leds_) page->push(event);
  pages_.push_back(page);
  return page;
}

void ViewServer::close_page(const std::shared_ptr<DisplayQueue>& page) {
  page->close();
  std::lock_guard lock(pages_mutex_);
  pages_.erase(std::remove(pages_.begin(), pages_.end(), page), pages_.end());
}

std::string find_web_dir(const std::string& given, const std::string& fallback) {
  if (!given.empty()) return given;
  char path[4096];
  ssize_t n = ::readlink("/proc/self/exe", path, sizeof path - 1);
  if (n > 0) {
    std::filesystem::path beside =
        std::filesystem::path(std::string(path, static_cast<std::size_t>(n))).parent_path() / "web";
    std::error_code ignored;
    if (std::filesystem::is_directory(beside, ignored)) return beside.string();
  }
  return fallback;
}

}  // namespace brelo_view

#pragma once
// The commands of the view's page, carried out over the simulation's
// command port with the same checks as the brelo-ctl verbs that do the
// same: a mote the simulation does not have, a link setting under the
// simple radio model, a variable it does not know are refused with the
// verb's own message, and nothing is sent.
//
// Each command opens a connection of its own (the simulator serves four
// per port; the view holds at most one at a time for commands), so the
// page's commands never share a connection with the event pump. Commands
// run one at a time.

#include <chrono>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>

#include "lib/json_reader.hpp"
#include "view/view_server.hpp"

namespace brelo_ctl {

class ViewCommands {
 public:
  // `switched` hears each mote switched on or off, with the virtual time.
  ViewCommands(uint16_t command_port, std::chrono::milliseconds timeout,
               std::function<void(int64_t time, uint16_t mote, bool on)> switched)
      : port_(command_port), timeout_(timeout), switched_(std::move(switched)) {}

  brelo_view::Reply rate(const brelo_host::JsonValue& body);
  brelo_view::Reply mote(const brelo_host::JsonValue& body);
  brelo_view::Reply link(const brelo_host::JsonValue& body);
  brelo_view::Reply variable(const brelo_host::JsonValue& body);
  brelo_view::Reply serial(const brelo_host::JsonValue& body);

  // The rate last set through the view; negative while none was.
  double rate_set() const;

 private:
  const uint16_t port_;
  const std::chrono::milliseconds timeout_;
  std::function<void(int64_t, uint16_t, bool)> switched_;
  mutable std::mutex mutex_;
  double rate_ = -1;
};

// The names /api/var accepts, as a JSON array.
std::string variable_names_json();

}  // namespace brelo_ctl

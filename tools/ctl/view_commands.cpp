#include "ctl/view_commands.hpp"

#include <cmath>
#include <cstdio>
#include <sstream>

#include "ctl/arguments.hpp"
#include "ctl/simulation_check.hpp"
#include "ctl/variable_format.hpp"
#include "ctl/variable_read.hpp"
#include "lib/json.hpp"
#include "protocol/variables.hpp"

namespace brelo_ctl {
namespace {
using brelo_host::JsonValue;
using brelo_view::ok;
using brelo_view::Reply;
using brelo_view::refusal;

// The view's side of a verb: the command line it would have had, with its
// messages caught instead of printed.
class Command {
 public:
  Command(uint16_t port, std::chrono::milliseconds timeout) {
    call_.command_port = port;
    call_.timeout = timeout;
    call_.out = &messages_;
    call_.err = &messages_;
  }
  Commands& open() {
    commands_.open();
    return commands_;
  }
  bool connected() const { return commands_.status() == EXIT_DONE; }
  // What the verb would have printed, without "brelo-ctl: " and line ends.
  Reply refused() {
    std::string text = messages_.str();
    const std::string prefix = std::string(program) + ": ";
    if (text.rfind(prefix, 0) == 0) text.erase(0, prefix.size());
    while (!text.empty() && text.back() == '\n') text.pop_back();
    return refusal(text.empty() ? "the command failed" : text);
  }
  Reply failed() {
    commands_.failed();
    return refused();
  }
  ctl::CommandClient& client() { return commands_.client(); }
  Commands& commands() { return commands_; }

 private:
  std::ostringstream messages_;
  Invocation call_;
  Commands commands_{call_};
};

// A member that must be a number; nullopt when it is missing or not one.
std::optional<double> number_of(const JsonValue& body, const char* key) {
  const JsonValue* value = body.find(key);
  if (value == nullptr || value->kind != JsonValue::Kind::number) return std::nullopt;
  return value->number;
}

std::optional<uint16_t> mote_of(const JsonValue& body, const char* key) {
  std::optional<double> n = number_of(body, key);
  if (!n || *n < 0 || *n > 999 || std::floor(*n) != *n) return std::nullopt;
  return static_cast<uint16_t>(*n);
}

std::string mote_complaint(const char* key) {
  return std::string("\"") + key + "\" must be a mote id (0 to 999)";
}

std::optional<std::string> text_of(const JsonValue& body, const char* key) {
  const JsonValue* value = body.find(key);
  if (value == nullptr || value->kind != JsonValue::Kind::string) return std::nullopt;
  return value->text;
}
}  // namespace

double ViewCommands::rate_set() const {
  std::lock_guard lock(mutex_);
  return rate_;
}

Reply ViewCommands::rate(const JsonValue& body) {
  std::optional<double> rate = number_of(body, "rate");
  if (!rate || *rate < 0 || *rate > 1000000) {
    return refusal("\"rate\" must be a number from 0 (paused) to 1000000");
  }
  std::lock_guard lock(mutex_);
  Command command(port_, timeout_);
  command.open();
  if (!command.connected()) return command.refused();
  if (!command.client().set_rate(*rate)) return command.failed();
  rate_ = *rate;
  return ok();
}

Reply ViewCommands::mote(const JsonValue& body) {
  std::optional<uint16_t> mote = mote_of(body, "mote");
  if (!mote) return refusal(mote_complaint("mote"));
  const JsonValue* on = body.find("on");
  if (on == nullptr || on->kind != JsonValue::Kind::boolean) {
    return refusal("\"on\" must be true or false");
  }
  std::lock_guard lock(mutex_);
  Command command(port_, timeout_);
  Commands& commands = command.open();
  if (!command.connected() || !motes_exist(commands, {*mote})) return command.refused();
  auto count = command.client().get_mote_count();
  if (!count) return command.failed();
  bool sent = on->boolean ? command.client().turn_on(*mote) : command.client().turn_off(*mote);
  if (!sent) return command.failed();
  if (switched_) switched_(count->time, *mote, on->boolean);
  return ok();
}

Reply ViewCommands::link(const JsonValue& body) {
  std::optional<uint16_t> from = mote_of(body, "from");
  std::optional<uint16_t> to = mote_of(body, "to");
  if (!from) return refusal(mote_complaint("from"));
  if (!to) return refusal(mote_complaint("to"));
  std::optional<double> p = number_of(body, "p");
  if (!p || *p < 0 || *p > 1) return refusal("\"p\" must be a probability from 0 to 1");
  std::lock_guard lock(mutex_);
  Command command(port_, timeout_);
  Commands& commands = command.open();
  if (!command.connected() || !motes_exist(commands, {*from, *to}) || !uses_lossy_radio(commands)) {
    return command.refused();
  }
  if (!command.client().set_link_probability(*from, *to, *p)) return command.failed();
  return ok();
}

Reply ViewCommands::variable(const JsonValue& body) {
  std::optional<uint16_t> mote = mote_of(body, "mote");
  if (!mote) return refusal(mote_complaint("mote"));
  std::optional<std::string> name = text_of(body, "name");
  if (!name || name->empty() || name->size() > 255) {
    return refusal("\"name\" must be a variable name (Module$variable), at most 255 characters");
  }
  std::lock_guard lock(mutex_);
  Command command(port_, timeout_);
  Commands& commands = command.open();
  if (!command.connected() || !motes_exist(commands, {*mote})) return command.refused();
  auto resolved = command.client().resolve(*mote, *name);
  if (!resolved) return command.failed();
  if (resolved->length == ctl::UNKNOWN_VARIABLE_LENGTH) {
    return refusal("mote " + std::to_string(*mote) + " has no variable \"" + *name + "\"");
  }
  if (resolved->length > largest_variable) {
    return refusal("the simulator gave \"" + *name + "\" a length of " +
                   std::to_string(resolved->length) + " bytes, more than any variable has");
  }
  auto bytes = read_whole(commands, *name, resolved->addr, resolved->length, piece_size(*name));
  if (!bytes) return command.refused();
  std::string hex;
  char byte[4];
  for (uint8_t b : *bytes) {
    std::snprintf(byte, sizeof byte, "%02x", b);
    hex += (hex.empty() ? "" : " ") + std::string(byte);
  }
  std::string text = describe_variable(*name, *bytes);
  while (!text.empty() && text.back() == '\n') text.pop_back();
  return ok("\"hex\":" + brelo_host::json_string(hex) + ",\"text\":" + brelo_host::json_string(text));
}

Reply ViewCommands::serial(const JsonValue& body) {
  std::optional<uint16_t> mote = mote_of(body, "mote");
  if (!mote) return refusal(mote_complaint("mote"));
  std::optional<std::string> hex = text_of(body, "hex");
  if (!hex) return refusal("\"hex\" must be the message's bytes in hexadecimal (\"01 02 ff\")");
  std::string why;
  std::optional<std::vector<uint8_t>> data = parse_hex(*hex, &why);
  if (!data) return refusal("\"hex\": " + why);
  if (data->size() > DATA_LENGTH) return refusal("at most 96 data bytes");
  // Optional, as brelo-ctl serial's --type and --addr.
  uint8_t type = 0;
  uint16_t addr = VEX_BCAST_ADDR;
  if (body.find("type") != nullptr) {
    std::optional<double> t = number_of(body, "type");
    if (!t || *t < 0 || *t > 255 || std::floor(*t) != *t) {
      return refusal("\"type\" must be an active-message type from 0 to 255");
    }
    type = static_cast<uint8_t>(*t);
  }
  if (body.find("addr") != nullptr) {
    std::optional<double> a = number_of(body, "addr");
    if (!a || *a < 0 || *a > 0xFFFF || std::floor(*a) != *a) {
      return refusal("\"addr\" must be an address from 0 to 65535");
    }
    addr = static_cast<uint16_t>(*a);
  }
  std::lock_guard lock(mutex_);
  Command command(port_, timeout_);
  Commands& commands = command.open();
  if (!command.connected() || !motes_exist(commands, {*mote})) return command.refused();
  if (!command.client().inject_uart(*mote, ctl::make_message(addr, type, *data))) {
    return command.failed();
  }
  return ok();
}

std::string variable_names_json() {
  std::string json = "[";
  for (const protocol::VariableLayout& v : protocol::variables) {
    if (json.size() > 1) json += ",";
    json += brelo_host::json_string(v.name);
  }
  return json + "]";
}

}  // namespace brelo_ctl

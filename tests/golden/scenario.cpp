#include "scenario.hpp"

#include <cctype>
#include <cinttypes>
#include <cstdio>
#include <cstring>
#include <optional>
#include <span>

#include "../control/brelo_process.hpp"
#include "../query/operator_messages.hpp"
#include "control/client/control_client.hpp"

namespace golden {
namespace {
using control_test::Brelo;
using control_test::ExitStatus;
using namespace query_test;

constexpr int64_t kSecond = 4000000;  // ticks
constexpr uint8_t kLight = 1;         // sensor id of the light sensor
constexpr uint8_t kPhotoPort = 1;     // its ADC port
constexpr uint32_t kRate = 256;       // timer counts: a quarter of a second

// Control ports differ from run to run; the lines that name them must not.
std::string mask_ports(std::string text) {
  std::string out;
  out.reserve(text.size());
  const std::string word = "port ";
  for (std::size_t i = 0; i < text.size();) {
    if (text.compare(i, word.size(), word) == 0) {
      out += word;
      i += word.size();
      if (i < text.size() && std::isdigit(static_cast<unsigned char>(text[i]))) {
        out += "P";
        while (i < text.size() && std::isdigit(static_cast<unsigned char>(text[i]))) ++i;
      }
    } else if (text.compare(i, 2, "\r\n") == 0) {  // the terminal's line ends
      out += '\n';
      i += 2;
    } else {
      out += text[i++];
    }
  }
  return out;
}

std::string event_line(const ctl::Event& event) {
  char head[96];
  std::snprintf(head, sizeof head, "type %u mote %u time %" PRId64 ":", event.header.msgType,
                event.header.moteID, static_cast<int64_t>(event.header.time));
  std::string line = head;
  if (const auto* debug = std::get_if<ctl::DebugMessage>(&event.body)) {
    line += " " + debug->text;
    if (line.empty() || line.back() != '\n') line += '\n';
    return line;
  }
  for (uint8_t byte : event.payload) {
    char hex[4];
    std::snprintf(hex, sizeof hex, " %02x", byte);
    line += hex;
  }
  return line + "\n";
}

class Runner {
 public:
  explicit Runner(Transcript& result) : result_(result) {}

  bool fail(const std::string& why) {
    result_.failure = why;
    return false;
  }

  // Operator messages for mote `to`, handed to mote 0's serial port one tick
  // apart from `time` on.
  bool send_query(uint16_t to, int64_t time, std::initializer_list<OperatorMsg> messages) {
    for (const OperatorMsg& m : messages) {
      std::span<const uint8_t> data(reinterpret_cast<const uint8_t*>(&m), sizeof m);
      if (!commands_.inject_uart(0, ctl::make_message(to, AM_OPERATORMSG, data), time++))
        return fail("inject_uart: " + commands_.error().text);
    }
    return true;
  }

  bool send_commands() {
    // Debug lines are on standard output already; the watcher gets the rest.
    if (!commands_.set_event_mask(0xFFFE)) return fail("mask: " + commands_.error().text);
    if (!commands_.set_adc_value(1, kPhotoPort, 800)) return fail("adc: " + commands_.error().text);
    if (!commands_.set_adc_value(2, kPhotoPort, 200)) return fail("adc: " + commands_.error().text);
    // Mote 0 forwards stream 9 to the serial line; motes 1 and 2 send their
    // light readings above 100 down stream 9. Every message for motes 1 and
    // 2 travels from mote 0 by radio.
    if (!send_query(0, kSecond, {remote_open(1, 9, 0), op(1, SERIAL_SEND, 0, -1, 4),
                                 message(1, CODE_START_QUERY)}))
      return false;
    for (uint16_t mote : {1, 2}) {
      if (!send_query(mote, kSecond + mote * kSecond / 4,
                      {sensor_open(1, kLight, kRate), local_open(1), remote_open(1, 9, 0),
                       selection(1, 0, 1, GREATER, 3, 100), op(1, SEND, 1, 2, 4),
                       message(1, CODE_START_QUERY)}))
        return false;
    }
    if (!commands_.interrupt(42, 2 * kSecond)) return fail("interrupt: " + commands_.error().text);
    if (!commands_.turn_off(3, 2 * kSecond + 100)) return fail("off: " + commands_.error().text);
    if (!commands_.turn_on(3, 3 * kSecond)) return fail("on: " + commands_.error().text);
    const uint8_t bytes[] = {1, 2, 3, 4, 5};
    if (!commands_.inject_radio(4, ctl::make_message(4, 8, bytes), 3 * kSecond + 777))
      return fail("radio: " + commands_.error().text);
    return true;
  }

  bool run(const std::vector<std::string>& extra_args, const std::string& dbg) {
    std::vector<std::string> args = extra_args;
    for (const char* option : {"-gui", "-b=0", "-seed=11", "-t=6", "-l=1000", "5"})
      args.push_back(option);
    brelo_.emplace(args, dbg);
    if (!brelo_->wait_until_listening()) return fail("brelo is not listening");
    if (!commands_.connect(brelo_->command_port())) return fail(commands_.error().text);
    if (!send_commands()) return false;
    // The first watcher lets the motes boot; from then on every event waits
    // for its acknowledgement, and the run ends at its time limit.
    ctl::EventClient events;
    if (!events.connect(brelo_->event_port())) return fail(events.error().text);
    while (std::optional<ctl::Event> event = events.next(control_test::kWait))
      result_.events += event_line(*event);
    if (events.error().kind != ctl::ErrorKind::closed)
      return fail("events: " + events.error().text);
    ExitStatus status = brelo_->process().wait();
    if (!status.exited || status.code != 0) return fail("brelo did not end normally");
    result_.out = mask_ports(brelo_->process().out());
    result_.events = mask_ports(result_.events);
    return true;
  }

 private:
  Transcript& result_;
  std::optional<Brelo> brelo_;
  ctl::CommandClient commands_;
};
}  // namespace

Transcript run_query_scenario(const std::vector<std::string>& extra_args,
                              const std::string& dbg) {
  Transcript result;
  Runner runner(result);
  result.ok = runner.run(extra_args, dbg);
  return result;
}

Transcript run_plain(const std::vector<std::string>& args, const std::string& dbg) {
  Transcript result;
  Brelo brelo(args, dbg);
  ExitStatus status = brelo.process().wait(std::chrono::milliseconds(60000));
  result.ok = status.exited && status.code == 0;
  if (!result.ok) result.failure = "brelo did not end normally: " + brelo.process().err();
  result.out = mask_ports(brelo.process().out());
  return result;
}

}  // namespace golden

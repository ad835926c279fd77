// brelo-ctl radio, serial: hand a mote a message as if its radio or its
// serial port received it.

#include "ctl/arguments.hpp"
#include "ctl/simulation_check.hpp"
#include "ctl/verbs/all.hpp"

namespace brelo_ctl {
namespace {
const Option type{.name = "--type",
                  .kind = Option::Kind::integer,
                  .value = "T",
                  .help = "active-message type (default 0)",
                  .whole_low = 0,
                  .whole_high = 255,
                  .complaint = "--type takes an active-message type from 0 to 255"};
const Option addr{.name = "--addr",
                  .kind = Option::Kind::integer,
                  .value = "A",
                  .help = "destination address (default 65535, broadcast)",
                  .whole_low = 0,
                  .whole_high = 0xFFFF,
                  .complaint = "--addr takes an address from 0 to 65535"};
const Option data{.name = "--data",
                  .kind = Option::Kind::text,
                  .value = "HEX",
                  .help = "data bytes in hexadecimal (\"01 02 ff\"), at most 96"};
const Option text{.name = "--text",
                  .kind = Option::Kind::text,
                  .value = "TEXT",
                  .help = "data bytes from a text"};
const Option length{.name = "--length",
                    .kind = Option::Kind::integer,
                    .value = "N",
                    .help = "the length field (default: the number of data bytes)",
                    .whole_low = 0,
                    .whole_high = 255,
                    .complaint = "--length takes a number from 0 to 255"};
const Option raw{.name = "--raw",
                 .kind = Option::Kind::text,
                 .value = "HEX",
                 .help = "the whole 112-byte record instead (the rest zero)"};

std::vector<Option> message_options() {
  return {type, addr, data, text, length, raw, at_option, in_option};
}

std::vector<uint8_t> hex_bytes(const Invocation& call, const Option& option) {
  std::string why;
  auto bytes = parse_hex(*call.text(option), &why);
  return checked(std::move(bytes), std::string(option.name) + ": " + why);
}

// The message the options describe. --raw gives the whole record, and the
// other message options are then not read.
VEX_Msg message_from_options(const Invocation& call) {
  if (call.has(raw)) {
    if (call.has(data) || call.has(text)) throw UsageError{"--raw replaces --data and --text"};
    std::vector<uint8_t> bytes = hex_bytes(call, raw);
    if (bytes.size() > sizeof(VEX_Msg)) throw UsageError{"--raw: at most 112 bytes"};
    std::vector<uint8_t> record(sizeof(VEX_Msg), 0);
    std::copy(bytes.begin(), bytes.end(), record.begin());
    return ctl::from_bytes<ctl::RadioMsgSendCommand>(record).message;
  }
  if (call.has(data) && call.has(text)) throw UsageError{"give --data or --text, not both"};
  std::vector<uint8_t> payload;
  if (call.has(data)) {
    payload = hex_bytes(call, data);
  } else if (auto given = call.text(text)) {
    payload.assign(given->begin(), given->end());
  }
  if (payload.size() > DATA_LENGTH) throw UsageError{"at most 96 data bytes"};
  auto to = static_cast<uint16_t>(call.integer(addr).value_or(VEX_BCAST_ADDR));
  auto am_type = static_cast<uint8_t>(call.integer(type).value_or(0));
  VEX_Msg message = ctl::make_message(to, am_type, payload);
  if (auto field = call.integer(length)) message.length = static_cast<uint8_t>(*field);
  return message;
}

int inject(Invocation& call, bool radio) {
  uint16_t mote = parse_mote(call.words[0]);
  VEX_Msg message = message_from_options(call);
  When when = parse_when(call);
  Commands commands(call);
  if (!commands.open()) return commands.status();
  if (!motes_exist(commands, {mote})) return commands.status();
  auto time = command_time(when, commands.client());
  if (!time) return commands.failed();
  bool sent = radio ? commands.client().inject_radio(mote, message, *time)
                    : commands.client().inject_uart(mote, message, *time);
  return sent ? EXIT_DONE : commands.failed();
}
}  // namespace

Verb radio_verb() {
  return {.name = "radio",
          .summary = "hand a mote a message as if its radio received it",
          .usage = "usage: brelo-ctl radio MOTE [--type T] [--addr A] [--data HEX | --text TEXT]\n"
                   "                        [--length N] [--raw HEX] [--at S | --in S]\n"
                   "Delivers a message to MOTE's active-message layer as if it came by radio.\n",
          .options = message_options(),
          .notes = "The group is always the simulation's group.\n",
          .min_words = 1,
          .max_words = 1,
          .run = [](Invocation& call) { return inject(call, true); }};
}

Verb serial_verb() {
  return {.name = "serial",
          .summary = "hand a mote a message as if its serial port received it",
          .usage = "usage: brelo-ctl serial MOTE [--type T] [--addr A] [--data HEX | --text TEXT]\n"
                   "                         [--length N] [--raw HEX] [--at S | --in S]\n"
                   "Delivers a message to MOTE's active-message layer as if it came over the\n"
                   "serial port; queries enter the network this way at mote 0. The options\n"
                   "are those of radio.\n",
          .options = unlisted(message_options()),
          .min_words = 1,
          .max_words = 1,
          .run = [](Invocation& call) { return inject(call, false); }};
}

}  // namespace brelo_ctl

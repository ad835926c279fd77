// brelo-ctl adc: sets the value a mote's ADC port converts to.

#include "ctl/arguments.hpp"
#include "ctl/verbs/all.hpp"

namespace brelo_ctl {
namespace {
int adc(Invocation& call) {
  uint16_t mote = parse_mote(call.words[0]);
  auto port = static_cast<uint8_t>(
      checked(parse_integer(call.words[1], 0, 255), "the port is a number from 0 to 255"));
  auto value = static_cast<uint16_t>(
      checked(parse_integer(call.words[2], 0, 65535), "the value is a number from 0 to 65535"));
  return send_command(
      call, [&](ctl::CommandClient& client) { return client.set_adc_value(mote, port, value); });
}
}  // namespace

Verb adc_verb() {
  return {.name = "adc",
          .summary = "set the value a mote's ADC port reads",
          .usage = "usage: brelo-ctl adc MOTE PORT VALUE\n"
                   "Sets the value (0 to 65535) that conversions on PORT (0 to 255) of MOTE\n"
                   "return under the generic ADC model.\n",
          .min_words = 3,
          .max_words = 3,
          .run = adc};
}

}  // namespace brelo_ctl

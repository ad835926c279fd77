// brelo-ctl adc: sets the value a mote's ADC port converts to.

#include <string>

#include "ctl/arguments.hpp"
#include "ctl/simulation_check.hpp"
#include "ctl/verbs/all.hpp"
#include "queryfile/query_file.hpp"

namespace brelo_ctl {
namespace {
// A value the converter could never give is still stored (tests and odd
// experiments want it), with a word on what its readings will look like.
void warn_about_value(const Invocation& call, uint16_t value) {
  std::string caution = query_file::adc_value_caution(value);
  if (!caution.empty()) *call.err << program << ": warning: " << caution << "\n";
}

int adc(Invocation& call) {
  uint16_t mote = parse_mote(call.words[0]);
  auto port = static_cast<uint8_t>(
      checked(parse_integer(call.words[1], 0, 255), "the port is a number from 0 to 255"));
  if (std::string why = query_file::unread_port_reason(port); !why.empty()) throw UsageError{why};
  auto value = static_cast<uint16_t>(
      checked(parse_integer(call.words[2], 0, 65535), "the value is a number from 0 to 65535"));
  Commands commands(call);
  if (!commands.open()) return commands.status();
  if (!motes_exist(commands, {mote})) return commands.status();
  warn_about_value(call, value);
  if (!commands.client().set_adc_value(mote, port, value)) return commands.failed();
  return EXIT_DONE;
}
}  // namespace

Verb adc_verb() {
  return {.name = "adc",
          .summary = "set the value a mote's ADC port reads",
          .usage = "usage: brelo-ctl adc MOTE PORT VALUE\n"
                   "Sets the value that conversions on PORT of MOTE return under the generic\n"
                   "ADC model. Ports: 1 light, 2 temperature, 3 voice, 4 accelx, 5 accely (any\n"
                   "of the converter's 0 to 15), 120 magx and 121 magy. A 10-bit converter\n"
                   "gives 0 to 1023 and records carry the value / 4; a larger VALUE (up to\n"
                   "65534) is set with a warning, and 65535 makes the readings random again.\n",
          .min_words = 3,
          .max_words = 3,
          .run = adc};
}

}  // namespace brelo_ctl

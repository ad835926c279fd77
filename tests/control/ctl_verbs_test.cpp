// brelo-ctl's verb table: each verb's usage names exactly the options it
// declares, the help lines come out aligned from the declarations, and a
// command line with mistakes reports the first one the verb meets.

#include <gtest/gtest.h>

#include <regex>
#include <set>
#include <sstream>

#include "ctl/verbs.hpp"
#include "ctl/verbs/all.hpp"

namespace brelo_ctl {
namespace {

std::vector<Verb> every_verb() {
  return {watch_verb(), info_verb(),  count_verb(),     on_verb(),  off_verb(),
          radio_verb(), serial_verb(), link_verb(),     adc_verb(), rate_verb(),
          dbg_verb(),   mask_verb(),  interrupt_verb(), run_verb(), var_verb()};
}

// The --options named by the usage line and its continuation lines.
std::set<std::string> options_in_usage(const std::string& usage) {
  std::set<std::string> named;
  std::istringstream lines(usage);
  std::string line;
  static const std::regex option("--[a-z]+");
  for (bool first = true; std::getline(lines, line); first = false) {
    if (!first && !line.starts_with(" ")) break;
    for (std::sregex_iterator i(line.begin(), line.end(), option), end; i != end; ++i) {
      named.insert(i->str());
    }
  }
  return named;
}

TEST(CtlVerbs, UsageNamesExactlyTheDeclaredOptions) {
  for (const Verb& verb : every_verb()) {
    std::set<std::string> declared;
    for (const Option& o : verb.options) declared.insert(o.name);
    EXPECT_EQ(options_in_usage(verb.usage), declared) << verb.name;
  }
}

TEST(CtlVerbs, ListedOptionsGetAlignedHelpLinesContinuedUnderTheirText) {
  EXPECT_EQ(interrupt_verb().help(),
            "usage: brelo-ctl interrupt ID [--wait] [--json] [--at S | --in S]\n"
            "Raises interrupt ID (0 to 4294967295); the simulator echoes it to every\n"
            "watcher as an interrupt event once the simulation reaches it.\n"
            "  --wait        wait for the echo and print it (when it is the virtual time\n"
            "                the interrupt ran at)\n");
  std::string var = var_verb().help();
  EXPECT_NE(var.find("\n  --raw  only the bytes\n"), std::string::npos) << var;
  // serial takes radio's options without listing them again.
  EXPECT_EQ(serial_verb().help().find("  --type"), std::string::npos);
  EXPECT_NE(radio_verb().help().find("\n  --type T      active-message type (default 0)\n"),
            std::string::npos);
}

std::string first_error(const std::vector<std::string>& args) {
  std::ostringstream out;
  std::ostringstream err;
  EXPECT_EQ(run(args, out, err), EXIT_USAGE);
  std::string text = err.str();
  return text.substr(0, text.find('\n'));
}

TEST(CtlVerbs, TheFirstMistakeTheVerbMeetsIsReported) {
  EXPECT_EQ(first_error({"on", "1", "--at", "x", "--in", "2"}),
            "brelo-ctl: give --at or --in, not both");
  EXPECT_EQ(first_error({"off", "1", "--in", "-3"}),
            "brelo-ctl: --in takes virtual seconds, not \"-3\"");
  // Checked in the verb's order, not the command line's.
  EXPECT_EQ(first_error({"run", "f", "--until", "x", "--motes", "0"}),
            "brelo-ctl: --motes takes a number of motes from 1 to 1000");
  EXPECT_EQ(first_error({"radio", "x", "--type", "999"}), "brelo-ctl: not a mote id (0 to 999): \"x\"");
  EXPECT_EQ(first_error({"--port", "0", "count"}), "brelo-ctl: --port takes a port from 1 to 65534");
  EXPECT_EQ(first_error({"watch", "--json=yes"}), "brelo-ctl: --json takes no value");
  EXPECT_EQ(first_error({"count", "--json"}), "brelo-ctl: unknown option --json for count");
}

}  // namespace
}  // namespace brelo_ctl

// brelo-ctl: how it reads its arguments and shows events, and its verbs
// against a running simulation, a missing one and one that goes away.

#include <gtest/gtest.h>
#include <signal.h>

#include <algorithm>
#include <cstring>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "brelo_process.hpp"
#include "control/client/control_client.hpp"
#include "ctl/arguments.hpp"
#include "ctl/event_format.hpp"
#include "ctl/variable_format.hpp"
#include "ctl/verbs.hpp"
#include "kernel/dbg.hpp"

using namespace control_test;
using namespace brelo_ctl;

namespace {
struct InProcess {
  int status;
  std::string out;
  std::string err;
};
InProcess run_here(const std::vector<std::string>& args) {
  std::ostringstream out;
  std::ostringstream err;
  int status = run(args, out, err);
  return {status, out.str(), err.str()};
}

ctl::Event debug_event(uint16_t mote, int64_t time, const std::string& text) {
  std::vector<uint8_t> payload(512, 0);
  std::memcpy(payload.data(), text.data(), text.size());
  return ctl::decode_event(ctl::GuiMsg{ctl::AM_DEBUGMSGEVENT, mote, time, 512}, payload);
}
}  // namespace

TEST(CtlArguments, MotesListsAndRanges) {
  bool all = false;
  EXPECT_EQ(parse_motes("3", &all), (std::vector<uint16_t>{3}));
  EXPECT_EQ(parse_motes("5-7,1,6", &all), (std::vector<uint16_t>{5, 6, 7, 1}));
  EXPECT_FALSE(all);
  EXPECT_EQ(parse_motes("all", &all), std::vector<uint16_t>{});
  EXPECT_TRUE(all);
  for (const char* bad : {"", "1000", "4-2", "x", "1,,2", "-1"}) {
    EXPECT_FALSE(parse_motes(bad, &all).has_value()) << bad;
  }
}

TEST(CtlArguments, HexBytesInSeveralSpellings) {
  EXPECT_EQ(parse_hex("01 02 ff"), (std::vector<uint8_t>{1, 2, 0xFF}));
  EXPECT_EQ(parse_hex("0102FF"), (std::vector<uint8_t>{1, 2, 0xFF}));
  EXPECT_EQ(parse_hex("01:02"), (std::vector<uint8_t>{1, 2}));
  EXPECT_FALSE(parse_hex("012").has_value());
  EXPECT_FALSE(parse_hex("0g").has_value());
}

TEST(CtlArguments, DebugModesByNameOrNumber) {
  EXPECT_EQ(parse_dbg_modes("boot,am"), DBG_BOOT | DBG_AM | DBG_ERROR);
  EXPECT_EQ(parse_dbg_modes("all,-radio"), DBG_ALL & ~(DBG_RADIO | DBG_ERROR));
  EXPECT_EQ(parse_dbg_modes("none"), 0);
  EXPECT_EQ(parse_dbg_modes("0x1100"), 0x1100);
  EXPECT_EQ(parse_dbg_modes("0xFFFFFFFFFFFFFFFF"), -1);
  std::string why;
  EXPECT_FALSE(parse_dbg_modes("boot,Boot", &why).has_value());
  EXPECT_EQ(why, "unknown debug mode \"Boot\"");
}

TEST(CtlArguments, EventMaskByNameOrNumber) {
  EXPECT_EQ(parse_event_mask("debug,leds"), 65);
  EXPECT_EQ(parse_event_mask("all"), 0xFFFF);
  EXPECT_EQ(parse_event_mask("none"), 0);
  EXPECT_EQ(parse_event_mask("1"), 1);
  EXPECT_FALSE(parse_event_mask("radios").has_value());
  EXPECT_FALSE(parse_event_mask("65536").has_value());
}

TEST(CtlFormat, DebugLineOnOneLine) {
  ctl::Event event =
      debug_event(3, 4000000 * 3725LL + 2000000, "\nSIM: Interrupt command, id: 5.\n\n");
  EXPECT_EQ(event_line(event),
            "1:2:5.50000000    mote 3     debug      SIM: Interrupt command, id: 5.");
  EXPECT_EQ(event_json(event),
            "{\"time\":14902000000,\"clock\":\"1:2:5.50000000\",\"mote\":3,\"type\":\"debug\","
            "\"text\":\"\\nSIM: Interrupt command, id: 5.\\n\\n\"}");
}

TEST(CtlFormat, MessagesLedsAndEventsWithoutAMote) {
  std::vector<uint8_t> data{0xAB, 0x01};
  VEX_Msg msg = ctl::make_message(0xFFFF, 8, data);
  msg.group = 125;
  ctl::Event radio = ctl::decode_event(ctl::GuiMsg{ctl::AM_RADIOMSGSENTEVENT, 2, 0, 112},
                                       ctl::to_bytes(ctl::RadioMsgSentEvent{msg}));
  EXPECT_NE(event_line(radio).find("radio      addr 0xffff type 8 group 125 length 2 data ab 01"),
            std::string::npos);
  EXPECT_NE(event_json(radio).find("\"am_type\":8,\"group\":125,\"length\":2"), std::string::npos);
  EXPECT_NE(event_json(radio).find("\"data\":\"ab01\""), std::string::npos);

  ctl::Event leds = ctl::decode_event(ctl::GuiMsg{ctl::AM_LEDEVENT, 1, 0, 1}, {0x05});
  EXPECT_NE(event_line(leds).find("red on, green off, yellow on"), std::string::npos);
  EXPECT_NE(event_json(leds).find("\"red\":true,\"green\":false,\"yellow\":true"),
            std::string::npos);

  ctl::Event echo =
      ctl::decode_event(ctl::GuiMsg{ctl::AM_INTERRUPTEVENT, 0xFFFF, 0, 4}, {9, 0, 0, 0});
  EXPECT_NE(event_line(echo).find(" -          interrupt  id 9"), std::string::npos);
  EXPECT_NE(event_json(echo).find("\"mote\":null,\"type\":\"interrupt\",\"id\":9}"),
            std::string::npos);
}

TEST(CtlFormat, VariablesDecodedByTheirType) {
  // Timer 1 of a timer list: one-shot (1), period 0x11223344, -2 counts left.
  std::vector<uint8_t> timers(132, 0);
  timers[12] = 1;
  timers[16] = 0x44, timers[17] = 0x33, timers[18] = 0x22, timers[19] = 0x11;
  timers[20] = 0xFE, timers[21] = 0xFF, timers[22] = 0xFF, timers[23] = 0xFF;
  std::string text = describe_variable("TimerM$mTimerList", timers);
  EXPECT_EQ(std::count(text.begin(), text.end(), '\n'), 11);
  EXPECT_NE(text.find("[1] type=1 ticks=287454020 ticksLeft=-2\n"), std::string::npos) << text;

  std::vector<uint8_t> channels(32, 0);
  channels[8] = channels[9] = channels[10] = channels[11] = 0xFF;
  channels[14] = 1;
  EXPECT_NE(describe_variable("NetToSSM$channel_table", channels)
                .find("[1] channel_id=-1 dest=0 validity=1\n"),
            std::string::npos);

  std::vector<uint8_t> dest(240, 0);
  dest[60] = 9;
  dest[64] = dest[65] = dest[66] = dest[67] = 0xFF;
  dest[60 + 44] = 1;
  EXPECT_NE(describe_variable("SSToAppM$dest_remote_table", dest)
                .find("[1] symbolic_name=9 channel_id=[-1,0,0,0] stream_rate=[0,0,0,0]"),
            std::string::npos);
  EXPECT_NE(describe_variable("SSToAppM$dest_remote_table", dest).find("buffer=set"),
            std::string::npos);

  EXPECT_EQ(describe_variable("TimerM$mScale", std::vector<uint8_t>{3}), "= 3\n");
  EXPECT_EQ(describe_variable("TimerM$queue_head", std::vector<uint8_t>{0xFF}), "= -1\n");
  EXPECT_EQ(describe_variable("NetToSSM$pbuffer", std::vector<uint8_t>{0, 0, 0, 0}), "= null\n");
  EXPECT_EQ(describe_variable("ADCM$ReqVector", std::vector<uint8_t>{0x34, 0x12}), "= 4660\n");
  // Structures without a known layout, and bytes cut short, stay undecoded.
  EXPECT_EQ(describe_variable("PellundM$pkt", std::vector<uint8_t>(112, 0)), "");
  EXPECT_EQ(describe_variable("PellundM$operator_table", std::vector<uint8_t>(40, 0)), "");
  EXPECT_EQ(std::count(text.begin(), text.end(), '['), 11);
}

TEST(CtlFormat, JsonStringsEscapeWhatTheyMust) {
  EXPECT_EQ(json_string("a\"b\\c\td\x01"), "\"a\\\"b\\\\c\\td\\u0001\"");
}

TEST(CtlCommandLine, HelpForTheToolAndEachVerb) {
  InProcess help = run_here({"--help"});
  EXPECT_EQ(help.status, EXIT_DONE);
  for (const char* verb : {"watch", "info", "count", "on", "off", "radio", "serial", "link", "adc",
                           "rate", "dbg", "mask", "interrupt", "var"}) {
    EXPECT_NE(help.out.find(std::string("  ") + verb + " "), std::string::npos) << verb;
    InProcess verb_help = run_here({verb, "--help"});
    EXPECT_EQ(verb_help.status, EXIT_DONE) << verb;
    EXPECT_EQ(verb_help.out.rfind(std::string("usage: brelo-ctl ") + verb, 0), 0u) << verb;
    EXPECT_EQ(run_here({"help", verb}).out, verb_help.out);
  }
}

TEST(CtlCommandLine, WrongCommandLinesExitWithStatusTwo) {
  const std::vector<std::vector<std::string>> wrong = {
      {},
      {"launch"},
      {"on"},
      {"on", "1", "2"},
      {"on", "1001"},
      {"on", "1", "--at", "1", "--in", "2"},
      {"link", "0", "1", "1.5"},
      {"adc", "0", "256", "1"},
      {"rate", "-1"},
      {"dbg", "loud"},
      {"mask", "everything"},
      {"radio", "0", "--data", "zz"},
      {"radio", "0", "--text", std::string(97, 'x')},
      {"watch", "--count", "0"},
      {"count", "--port", "65535"},
      {"count", "--bogus"},
      {"--port"},
  };
  for (const auto& args : wrong) {
    InProcess result = run_here(args);
    std::string shown;
    for (const auto& arg : args) shown += arg + " ";
    EXPECT_EQ(result.status, EXIT_USAGE) << shown;
    EXPECT_EQ(result.err.rfind("brelo-ctl: ", 0), 0u) << shown;
    EXPECT_NE(result.err.find("--help"), std::string::npos) << shown;
  }
}

TEST(CtlTool, NoSimulatorListeningExitsWithStatusOne) {
  uint16_t port = free_port_pair();
  for (const char* verb : {"count", "watch", "info"}) {
    ToolResult result = run_tool({"--port", std::to_string(port), verb});
    EXPECT_TRUE(result.status.exited);
    EXPECT_EQ(result.status.code, EXIT_NOT_RUNNING) << verb;
    EXPECT_NE(result.err.find("no simulator is listening on 127.0.0.1:"), std::string::npos)
        << verb;
  }
}

class CtlAgainstBrelo : public ::testing::Test {
 protected:
  void SetUp() override {
    brelo_ = std::make_unique<Brelo>(std::vector<std::string>{"-s=0", "-l=4", "3"}, "sim,temp");
    ASSERT_TRUE(brelo_->wait_until_listening());
    port_ = std::to_string(brelo_->command_port());
  }
  void TearDown() override {
    if (gone_) {
      EXPECT_EQ(brelo_->sanitizer_report(), "");
    } else {
      brelo_->expect_clean_end();
    }
  }
  ToolResult tool(std::vector<std::string> args) {
    args.insert(args.begin(), {"--port", port_});
    ToolResult result = run_tool(args);
    EXPECT_TRUE(result.status.exited) << args[2];
    return result;
  }
  bool output_shows(const std::string& text) { return brelo_->process().wait_for_output(text); }

  std::unique_ptr<Brelo> brelo_;
  std::string port_;
  bool gone_ = false;
};

TEST_F(CtlAgainstBrelo, CountAndInfo) {
  ToolResult count = tool({"count"});
  EXPECT_EQ(count.status.code, 0);
  EXPECT_EQ(count.out, "3\n");
  ToolResult info = tool({"info"});
  EXPECT_EQ(info.status.code, 0);
  EXPECT_NE(info.out.find("init       3 motes, radio model simple, rate 4.000"), std::string::npos)
      << info.out;
}

TEST_F(CtlAgainstBrelo, SwitchingAndInjecting) {
  EXPECT_EQ(tool({"on", "0-1"}).status.code, 0);
  EXPECT_TRUE(output_shows("SIM: Turning on mote 0\n"));
  EXPECT_TRUE(output_shows("SIM: Turning on mote 1\n"));
  EXPECT_EQ(tool({"off", "all", "--in", "0.1"}).status.code, 0);
  EXPECT_TRUE(output_shows("SIM: Turning off mote 2\n"));
  EXPECT_EQ(tool({"serial", "0", "--type", "8", "--text", "hi"}).status.code, 0);
  EXPECT_TRUE(output_shows("SIM: Enqueueing UART message for mote 0 (payloadlen 112)\n"));
  EXPECT_EQ(tool({"radio", "2", "--data", "01 02", "--addr", "2"}).status.code, 0);
  EXPECT_TRUE(output_shows("SIM: Enqueueing radio message for mote 2 (payloadlen 112)\n"));
}

TEST_F(CtlAgainstBrelo, SettingsAndInterrupts) {
  EXPECT_EQ(tool({"adc", "1", "2", "700"}).status.code, 0);
  EXPECT_EQ(tool({"rate", "2"}).status.code, 0);
  EXPECT_TRUE(output_shows("SIM: Setting rate to 2.000000\n"));
  EXPECT_NE(tool({"info"}).out.find("rate 2.000"), std::string::npos);
  EXPECT_EQ(tool({"mask", "debug,interrupt"}).status.code, 0);

  ToolResult echo = tool({"interrupt", "9", "--wait"});
  EXPECT_EQ(echo.status.code, 0) << echo.err;
  EXPECT_NE(echo.out.find("interrupt  id 9"), std::string::npos) << echo.out;

  EXPECT_TRUE(output_shows("SIM: Interrupt command, id: 9."));
  EXPECT_EQ(tool({"dbg", "sim"}).status.code, 0);  // no more temp lines
  EXPECT_EQ(tool({"interrupt", "10", "--wait"}).status.code, 0);
  EXPECT_EQ(brelo_->process().out().find("SIM: Interrupt command, id: 10."), std::string::npos);

  ToolResult unknown = tool({"var", "0", "NoSuchModule$nothing"});
  EXPECT_EQ(unknown.status.code, EXIT_NOT_FOUND);
  EXPECT_NE(unknown.err.find("has no variable \"NoSuchModule$nothing\""), std::string::npos);
}

TEST_F(CtlAgainstBrelo, VariablesShowTheirBytesAndValues) {
  EXPECT_EQ(tool({"on", "2"}).status.code, 0);
  ToolResult scale;
  for (int attempt = 0; attempt < 50; ++attempt) {
    scale = tool({"var", "2", "TimerM$mScale"});
    if (scale.out == "03\n= 3\n") break;
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  EXPECT_EQ(scale.status.code, 0);
  EXPECT_EQ(scale.out, "03\n= 3\n");
  EXPECT_EQ(tool({"var", "--raw", "2", "TimerM$mScale"}).out, "03\n");
  // 528 bytes, more than one reply holds: all 12 entries, read in pieces.
  ToolResult table = tool({"var", "2", "PellundM$operator_table"});
  EXPECT_EQ(table.status.code, 0);
  EXPECT_EQ(table.err, "");
  std::string bytes = table.out.substr(0, table.out.find('\n'));
  EXPECT_EQ(bytes.size(), 528u * 3 - 1);
  for (int entry = 0; entry < 12; ++entry) {
    std::string line = "\n[" + std::to_string(entry) + "] query_id=0 operator=0 stream_output=-1";
    EXPECT_NE(table.out.find(line), std::string::npos) << entry << table.out;
  }
}

// Commands the simulator would acknowledge and then ignore are refused
// before anything is sent: motes it does not have, link settings under a
// radio model without links, ADC ports no reading comes from.
TEST_F(CtlAgainstBrelo, CommandsTheSimulationWouldIgnoreAreRefused) {
  struct Refusal {
    std::vector<std::string> args;
    std::string says;
  };
  const Refusal refusals[] = {
      {{"off", "3"}, "the simulation has 3 motes (0 to 2): there is no mote 3\n"},
      {{"on", "1,4-5", "--in", "1"}, "there are no motes 4, 5\n"},
      {{"adc", "7", "1", "100"}, "there is no mote 7\n"},
      {{"serial", "9", "--text", "hi"}, "there is no mote 9\n"},
      {{"radio", "3"}, "there is no mote 3\n"},
      {{"link", "1", "9", "0.5"}, "there is no mote 9\n"},
      {{"var", "99", "TimerM$mState"}, "there is no mote 99\n"},
      {{"link", "0", "1", "0.5"}, "link settings act only under the lossy radio model, and this "
                                   "simulation runs the simple model"},
      {{"adc", "1", "16", "100"}, "no reading comes from port 16; readings come from the "
                                   "converter's ports 0 to 15 and the magnetometer's 120 and 121"},
  };
  for (const Refusal& refusal : refusals) {
    auto start = std::chrono::steady_clock::now();
    ToolResult result = tool(refusal.args);
    EXPECT_EQ(result.status.code, EXIT_USAGE) << refusal.args[0] << " " << refusal.args[1];
    EXPECT_NE(result.err.find(refusal.says), std::string::npos) << result.err;
    // Refused at once, not after waiting for a reply that never comes.
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(2)) << refusal.args[0];
  }
  // None of them reached the simulator, which logs the commands it ignores.
  EXPECT_EQ(tool({"interrupt", "5", "--wait"}).status.code, 0);
  EXPECT_TRUE(output_shows("SIM: Interrupt command, id: 5."));
  EXPECT_EQ(brelo_->process().out().find("Received command for invalid mote"), std::string::npos)
      << brelo_->process().out();

  // A raw value no 10-bit converter gives is still set, with a word on the
  // readings it makes.
  ToolResult high = tool({"adc", "1", "1", "3000"});
  EXPECT_EQ(high.status.code, 0);
  EXPECT_EQ(high.err,
            "brelo-ctl: warning: 3000 is above 1023, the largest value of a 10-bit converter: "
            "records carry 750 (the value / 4), and aggregates compare only its low byte, 238\n");
  EXPECT_EQ(tool({"adc", "1", "121", "65535"}).err, "");
}

TEST(CtlLinks, ALinkSettingReachesALossySimulation) {
  Brelo brelo({"-s=0", "-r=lossy", "-rf=/nonexistent/links.nss", "2"}, "sim");
  ASSERT_TRUE(brelo.wait_until_listening());
  ToolResult result =
      run_tool({"--port", std::to_string(brelo.command_port()), "link", "0", "1", "0.25"});
  EXPECT_EQ(result.status.code, 0) << result.err;
  EXPECT_TRUE(brelo.process().wait_for_output("RFM: KRT: Setting loss prob 0->1 to 0.250"));
  brelo.expect_clean_end();
}

TEST_F(CtlAgainstBrelo, WatchPrintsEventsAsLinesOrJson) {
  ToolResult first = tool({"watch", "--count", "1", "--json"});
  EXPECT_EQ(first.status.code, 0);
  EXPECT_EQ(first.out.rfind("{\"time\":", 0), 0u) << first.out;
  EXPECT_NE(first.out.find("\"type\":\"init\",\"motes\":3"), std::string::npos);

  ChildProcess watcher(
      BRELO_CTL_BINARY,
      {"brelo-ctl", "--port", port_, "watch", "--types", "interrupt", "--count", "1"}, {});
  // Interrupts until the watcher, connected at some point, has shown one.
  for (int attempt = 0; attempt < 50; ++attempt) {
    EXPECT_EQ(tool({"interrupt", "77"}).status.code, 0);
    if (watcher.wait_for_output("interrupt", std::chrono::milliseconds(100))) break;
  }
  ExitStatus status = watcher.wait();
  EXPECT_TRUE(status.exited);
  EXPECT_EQ(status.code, 0);
  EXPECT_NE(watcher.out().find("interrupt  id 77"), std::string::npos) << watcher.out();
}

TEST_F(CtlAgainstBrelo, WatcherReportsASimulatorThatGoesAway) {
  ChildProcess watcher(BRELO_CTL_BINARY, {"brelo-ctl", "--port", port_, "watch"}, {});
  ASSERT_TRUE(watcher.wait_for_output("init"));
  ExitStatus ended = brelo_->interrupt_and_wait();
  gone_ = true;
  EXPECT_TRUE(ended.exited && ended.code == 0);
  ExitStatus status = watcher.wait();
  EXPECT_TRUE(status.exited);
  EXPECT_EQ(status.code, EXIT_CONNECTION);
  EXPECT_NE(watcher.err().find("the simulator closed the connection"), std::string::npos)
      << watcher.err();
}

TEST_F(CtlAgainstBrelo, FifthCommandClientIsToldTheSimulatorClosedIt) {
  std::vector<ctl::CommandClient> held(4);
  for (auto& client : held) {
    ASSERT_TRUE(client.connect(brelo_->command_port()));
    ASSERT_TRUE(client.get_mote_count());
  }
  ToolResult result = tool({"count"});
  EXPECT_EQ(result.status.code, EXIT_CONNECTION);
  EXPECT_NE(result.err.find("the simulator closed the connection"), std::string::npos)
      << result.err;
}

// The packet trace of a whole run (-trace=FILE): a file brelo cannot write
// stops it before anything runs, and a run ended by ^C leaves a complete
// trace behind, packets from the host included.

#include <signal.h>
#include <unistd.h>

#include <cstdio>
#include <thread>

#include "control/client/control_client.hpp"
#include "run_brelo.hpp"
#include "support/pcap_records.hpp"

namespace e2e {
namespace {
using namespace std::chrono_literals;

TEST(Trace, FileThatCannotBeWrittenIsAConfigurationError) {
  ProcessResult r = run_brelo({"-trace=/nonexistent/folder/run.pcap", "-t=1", "2"}, dbg_set(""));
  ASSERT_TRUE(r.exited);
  EXPECT_EQ(r.exit_code, 255);
  EXPECT_TRUE(r.err.starts_with("SIM: Cannot write trace file /nonexistent/folder/run.pcap: "))
      << r.err;
  EXPECT_EQ(r.out, "");
}

// ^C ends the process without running destructors; what the trace buffered
// must still reach the file, and the file must end on a whole record.
TEST(Trace, SigintLeavesACompleteTraceWithThePacketsFromTheHost) {
  const std::string path = ::testing::TempDir() + "sigint_trace_" + std::to_string(::getpid()) + ".pcap";
  std::vector<std::string> args = with_free_ports({"-b=0", "-trace=" + path, "3"});
  ASSERT_TRUE(args[0].starts_with("-port="));
  const auto port = static_cast<uint16_t>(std::stoi(args[0].substr(6)));
  args.insert(args.begin(), kProgramName);
  ChildProcess brelo(BRELO_BINARY, args, {"DBG="});

  ctl::CommandClient commands;
  for (int tries = 0; !commands.connect(port, 200ms) && tries < 50; ++tries) {
    std::this_thread::sleep_for(20ms);
  }
  const uint8_t serial_data[] = {1, 2, 3};
  const uint8_t radio_data[] = {9, 8, 7, 6};
  ASSERT_TRUE(commands.inject_uart(0, ctl::make_message(0, 42, serial_data)));
  ASSERT_TRUE(commands.inject_radio(2, ctl::make_message(2, 43, radio_data)));
  commands.close();
  brelo.collect_for(300ms);
  brelo.send_signal(SIGINT);
  ProcessResult r = brelo.finish(5000ms);
  ASSERT_TRUE(r.exited) << "ended by signal " << r.term_signal;
  EXPECT_EQ(r.exit_code, 0);

  std::optional<support::TraceFile> trace = support::read_trace(path);
  std::remove(path.c_str());
  ASSERT_TRUE(trace);
  EXPECT_TRUE(trace->whole);
  ASSERT_EQ(trace->records.size(), 2u);
  const support::TraceRecord& serial = trace->records[0];
  EXPECT_EQ(serial.mote, 0);
  EXPECT_EQ(serial.direction, 3);  // serial from host
  EXPECT_EQ(serial.crc, 2);        // not checked
  // Address 0, type 42, group 125, length 3, the data, one byte more, crc 1.
  EXPECT_EQ(serial.frame, (std::vector<uint8_t>{0, 0, 42, 125, 3, 1, 2, 3, 0, 1, 0}));
  const support::TraceRecord& radio = trace->records[1];
  EXPECT_EQ(radio.mote, 2);
  EXPECT_EQ(radio.direction, 4);  // radio from host
  EXPECT_EQ(radio.frame, (std::vector<uint8_t>{2, 0, 43, 125, 4, 9, 8, 7, 6, 0, 1, 0}));
}

}  // namespace
}  // namespace e2e

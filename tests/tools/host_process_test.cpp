// The host library's child processes and ports: what a started program
// sees (arguments, environment, a terminal or a pipe, its process group),
// how its end is reported, and ports that are really free.

#include "lib/process.hpp"

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

#include "lib/json.hpp"
#include "lib/ports.hpp"

namespace brelo_host {
namespace {
using std::chrono::milliseconds;

struct Ran {
  bool started = false;
  std::string why;
  std::string out;
  std::string err;
  ExitStatus status;
};

// Runs `sh -c script` (found on PATH) to its end, reading both pipes.
Ran run_shell(const std::string& script, Launch launch = {}) {
  launch.program = "sh";
  launch.argv = {"sh", "-c", script};
  if (launch.out == Output::inherit) launch.out = Output::pipe;
  launch.err = Output::pipe;
  Process process;
  Ran ran;
  ran.started = process.start(launch, &ran.why);
  if (!ran.started) return ran;
  process.read_output(Process::Clock::now() + std::chrono::seconds(10),
                      [&](Process::Stream stream, std::string_view bytes) {
                        (stream == Process::Stream::out ? ran.out : ran.err).append(bytes);
                      });
  ran.status = process.wait(std::chrono::seconds(10));
  return ran;
}

TEST(HostProcess, ChildGetsItsArgumentsAndItsOutputAndStatusComeBack) {
  Ran ran = run_shell("echo out; echo err >&2; exit 3");
  ASSERT_TRUE(ran.started) << ran.why;
  EXPECT_EQ(ran.out, "out\n");
  EXPECT_EQ(ran.err, "err\n");
  EXPECT_TRUE(ran.status.exited);
  EXPECT_EQ(ran.status.code, 3);
}

TEST(HostProcess, EnvironmentIsExactlyTheOneGivenOrOursWithOneChange) {
  Launch exact;
  exact.environment = std::vector<std::string>{"ONLY=1"};
  // sh adds PWD and friends of its own; nothing of ours may get through.
  ::setenv("BRELO_PROCESS_TEST", "ours", 1);
  Ran ran = run_shell("echo \"$ONLY-${BRELO_PROCESS_TEST:-unset}\"", exact);
  EXPECT_EQ(ran.out, "1-unset\n");

  Launch changed;
  changed.environment = environment_with("BRELO_PROCESS_TEST", "");
  ran = run_shell("echo \"[${BRELO_PROCESS_TEST-unset}] $PATH\"", changed);
  EXPECT_EQ(ran.out, "[] " + std::string(::getenv("PATH")) + "\n");
  ::unsetenv("BRELO_PROCESS_TEST");
}

TEST(HostProcess, ATerminalOrAPipeAsTheChildSeesIt) {
  Launch terminal;
  terminal.out = Output::terminal;
  EXPECT_EQ(run_shell("test -t 1 && echo terminal || echo pipe", terminal).out, "terminal\n");
  EXPECT_EQ(run_shell("test -t 1 && echo terminal || echo pipe").out, "pipe\n");
}

TEST(HostProcess, OwnProcessGroupKeepsTheTerminalsCtrlCAway) {
  Launch own;
  own.own_process_group = true;
  // Field 5 of /proc/self/stat is the process group, field 1 the process.
  const std::string script =
      "read pid x x x pgrp rest < /proc/self/stat; [ $pid = $pgrp ] && echo own || echo shared";
  EXPECT_EQ(run_shell(script, own).out, "own\n");
  EXPECT_EQ(run_shell(script).out, "shared\n");
}

TEST(HostProcess, AProgramThatCannotRunIsReportedByStart) {
  Process process;
  Launch launch;
  launch.program = "/nonexistent/brelo";
  launch.argv = {"brelo"};
  std::string why;
  EXPECT_FALSE(process.start(launch, &why));
  EXPECT_EQ(why, "cannot run /nonexistent/brelo: No such file or directory");
  EXPECT_FALSE(process.running());
}

TEST(HostProcess, WaitKillsAChildThatOutlivesItsDeadline) {
  Process process;
  Launch launch;
  launch.program = "sleep";
  launch.argv = {"sleep", "30"};
  std::string why;
  ASSERT_TRUE(process.start(launch, &why)) << why;
  EXPECT_TRUE(process.running());
  ExitStatus status = process.wait(milliseconds(50));
  EXPECT_TRUE(status.timed_out);
  EXPECT_FALSE(status.exited);
  EXPECT_EQ(status.signal, SIGKILL);
  EXPECT_LT(process.lifetime().count(), 10.0);

  Process interrupted;
  ASSERT_TRUE(interrupted.start(launch, &why)) << why;
  interrupted.signal(SIGINT);
  status = interrupted.wait(std::chrono::seconds(10));
  EXPECT_FALSE(status.timed_out);
  EXPECT_EQ(status.signal, SIGINT);
}

// Binds as brelo does, with address reuse: a port that earlier tests used
// may still have connections waiting out their close.
bool can_bind(uint16_t port) {
  int fd = ::socket(AF_INET, SOCK_STREAM, 0);
  int on = 1;
  ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(port);
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  bool bound = ::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
  ::close(fd);
  return bound;
}

TEST(HostPorts, APairBelowTheEphemeralRangeThatNothingHolds) {
  for (int i = 0; i < 20; ++i) {
    uint16_t port = free_port_pair();
    EXPECT_GE(port, 20000);
    EXPECT_LT(port, 32001);
    EXPECT_EQ(port % 2, 0);
    EXPECT_TRUE(can_bind(port) && can_bind(static_cast<uint16_t>(port + 1))) << port;
  }
}

TEST(HostJson, ObjectsKeepTheOrderOfTheirMembersAndEscapeTheirKeys) {
  JsonObject inner;
  inner.raw("a\"b", "1");
  EXPECT_EQ(JsonObject().raw("n", "null").text("t", "x\ny").raw("o", inner.str()).str(),
            "{\"n\":null,\"t\":\"x\\ny\",\"o\":{\"a\\\"b\":1}}");
  EXPECT_EQ(JsonObject().str(), "{}");
  // Bytes outside printable ASCII are written one escape per byte.
  EXPECT_EQ(json_string("\x7f\xc3\xa9"), "\"\\u007f\\u00c3\\u00a9\"");
}

}  // namespace
}  // namespace brelo_host

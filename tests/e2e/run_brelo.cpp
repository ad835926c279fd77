#include "run_brelo.hpp"

#include <cstdio>
#include <cstdlib>
#include <stdexcept>

#include "lib/ports.hpp"

namespace e2e {
namespace {
std::vector<std::string> argv_for(const std::vector<std::string>& args) {
  std::vector<std::string> argv{kProgramName};
  argv.insert(argv.end(), args.begin(), args.end());
  return argv;
}

// True when this brelo's help lists the control-port option.
bool takes_port_option() {
  static const bool answer =
      run_process(BRELO_BINARY, {kProgramName, "-h"}, {}, kRunTimeout).err.find("  -port=<") !=
      std::string::npos;
  return answer;
}

std::vector<std::string> env_for(const DbgEnv& dbg) {
  std::vector<std::string> env;
  if (dbg.value) env.push_back("DBG=" + *dbg.value);
  return env;
}
}  // namespace

std::vector<std::string> with_free_ports(const std::vector<std::string>& args) {
  if (!takes_port_option()) return args;
  std::vector<std::string> full{"-port=" + std::to_string(brelo_host::free_port_pair())};
  full.insert(full.end(), args.begin(), args.end());
  return full;
}

ProcessResult run_brelo(const std::vector<std::string>& args, const DbgEnv& dbg,
                        std::chrono::milliseconds timeout) {
  return run_process(BRELO_BINARY, argv_for(with_free_ports(args)), env_for(dbg), timeout);
}

ProcessResult run_brelo_verbatim(const std::vector<std::string>& args, const DbgEnv& dbg,
                                 std::chrono::milliseconds timeout) {
  return run_process(BRELO_BINARY, argv_for(args), env_for(dbg), timeout);
}

std::unique_ptr<ChildProcess> start_brelo(const std::vector<std::string>& args,
                                          const DbgEnv& dbg) {
  return std::make_unique<ChildProcess>(BRELO_BINARY, argv_for(with_free_ports(args)),
                                        env_for(dbg));
}

std::vector<std::string> lines_of(const std::string& text) {
  std::vector<std::string> lines;
  std::size_t start = 0;
  while (start < text.size()) {
    std::size_t end = text.find('\n', start);
    if (end == std::string::npos) end = text.size();
    lines.push_back(text.substr(start, end - start));
    start = end + 1;
  }
  return lines;
}

std::vector<std::string> lines_containing(const std::string& text, const std::string& piece) {
  std::vector<std::string> found;
  for (std::string& line : lines_of(text)) {
    if (line.find(piece) != std::string::npos) found.push_back(std::move(line));
  }
  return found;
}

std::string first_difference(const std::string& a, const std::string& b) {
  if (a == b) return {};
  const std::vector<std::string> a_lines = lines_of(a);
  const std::vector<std::string> b_lines = lines_of(b);
  std::size_t i = 0;
  while (i < a_lines.size() && i < b_lines.size() && a_lines[i] == b_lines[i]) ++i;
  auto line_or_end = [i](const std::vector<std::string>& lines) {
    return i < lines.size() ? "\"" + lines[i] + "\"" : std::string("(end of output)");
  };
  if (i == a_lines.size() && i == b_lines.size()) return "the texts differ in their last line end";
  return "first difference at line " + std::to_string(i + 1) + ":\n  " + line_or_end(a_lines) +
         "\n  " + line_or_end(b_lines);
}

std::string tail_of(const std::string& text, std::size_t count) {
  const std::vector<std::string> lines = lines_of(text);
  std::string tail;
  for (std::size_t i = lines.size() > count ? lines.size() - count : 0; i < lines.size(); ++i) {
    tail += lines[i] + "\n";
  }
  return tail;
}

::testing::AssertionResult completed_once(const std::string& out, int motes) {
  const std::vector<std::string> found = lines_containing(out, " completed.");
  if (found == std::vector<std::string>{"Simulation of " + std::to_string(motes) +
                                        " motes completed."}) {
    return ::testing::AssertionSuccess();
  }
  auto failure = ::testing::AssertionFailure();
  failure << found.size() << " completion line(s):";
  for (const std::string& line : found) failure << "\n  " << line;
  return failure << "\noutput ends with:\n" << tail_of(out);
}

std::string format_ticks(int64_t ticks) {
  const int64_t ticks_per_second = 4000000;
  int64_t whole_seconds = ticks / ticks_per_second;
  int64_t fraction = (ticks % ticks_per_second) * 25;
  char text[64];
  std::snprintf(text, sizeof text, "%lld:%lld:%lld.%08lld",
                static_cast<long long>(whole_seconds / 3600),
                static_cast<long long>(whole_seconds / 60 % 60),
                static_cast<long long>(whole_seconds % 60), static_cast<long long>(fraction));
  return text;
}

std::vector<int64_t> expected_boot_times(unsigned seed, int window_seconds, int count) {
  std::srand(seed);
  const int64_t window_ticks = static_cast<int64_t>(window_seconds) * 4000000;
  std::vector<int64_t> times;
  for (int i = 0; i < count; ++i) {
    int64_t r = std::rand();
    times.push_back(window_seconds >= 1 ? i + r % window_ticks : i);
  }
  return times;
}

}  // namespace e2e

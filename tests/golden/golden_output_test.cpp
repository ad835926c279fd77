// The exact simulator's complete output for one fixed run, compared byte for
// byte with the stored transcript. Any change of the event path that alters
// one byte of it changes behaviour; it is not an optimisation.
//
// To store a new transcript after an intended change of behaviour, run this
// test with BRELO_GOLDEN_UPDATE=1 and review the difference in git.

#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>

#include "scenario.hpp"

namespace golden {
namespace {

std::string read_file(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

// The first line where two texts differ, for the failure message.
std::string first_difference(const std::string& want, const std::string& got) {
  std::size_t at = 0;
  int line = 1;
  while (at < want.size() && at < got.size() && want[at] == got[at]) {
    if (want[at] == '\n') ++line;
    ++at;
  }
  std::size_t start = want.rfind('\n', at == 0 ? 0 : at - 1);
  start = start == std::string::npos ? 0 : start + 1;
  auto line_at = [&](const std::string& text) {
    if (start >= text.size()) return std::string("<end>");
    return text.substr(start, text.find('\n', start) - start);
  };
  return "line " + std::to_string(line) + "\n want: " + line_at(want) + "\n  got: " + line_at(got);
}

TEST(GoldenOutput, ExactModeRunMatchesTheStoredTranscript) {
  const std::string path = GOLDEN_DIR "/query_run.golden";
  Transcript run = run_query_scenario();
  ASSERT_TRUE(run.ok) << run.failure;
  const std::string got = run.text();
  if (const char* update = std::getenv("BRELO_GOLDEN_UPDATE"); update && *update == '1') {
    std::ofstream(path, std::ios::binary) << got;
    GTEST_SKIP() << "stored " << path;
  }
  const std::string want = read_file(path);
  ASSERT_FALSE(want.empty()) << "no stored transcript at " << path;
  // The run is long; compare first and show where it differs.
  ASSERT_TRUE(want == got) << first_difference(want, got);
}

}  // namespace
}  // namespace golden

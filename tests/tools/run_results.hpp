#pragma once
// Runs brelo-ctl's query runner on a file and reads the JSON Lines it prints.

#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <map>
#include <optional>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

#include "../control/brelo_process.hpp"

namespace query_run_test {

struct Row {
  double time = 0;
  std::optional<int> mote, timestamp, epoch;
  std::map<std::string, int> fields;
};

inline std::optional<int> number_or_null(const std::string& text) {
  if (text == "null") return std::nullopt;
  return std::stoi(text);
}

// One line as brelo-ctl --json writes it.
inline std::optional<Row> parse_row(const std::string& line) {
  static const std::regex shape(
      R"(\{"time":([0-9.]+),"mote":(\w+),"timestamp":(\w+),"epoch":(\w+),"fields":\{(.*)\}\})");
  std::smatch m;
  if (!std::regex_match(line, m, shape)) return std::nullopt;
  Row row;
  row.time = std::stod(m[1]);
  row.mote = number_or_null(m[2]);
  row.timestamp = number_or_null(m[3]);
  row.epoch = number_or_null(m[4]);
  static const std::regex field(R"re("([^"]+)":([0-9]+))re");
  std::string fields = m[5];
  for (std::sregex_iterator i(fields.begin(), fields.end(), field), end; i != end; ++i) {
    row.fields[(*i)[1]] = std::stoi((*i)[2]);
  }
  return row;
}

// One source mote of the final delivery summary; -1 for null.
struct Delivered {
  int expected = -1;
  int received = -1;
};

inline int int_or_minus_one(const std::string& text) { return text == "null" ? -1 : std::stoi(text); }

// The final {"delivery":[...]} line, by mote; nullopt when the line is not one.
inline std::optional<std::map<int, Delivered>> parse_delivery(const std::string& line) {
  if (line.rfind(R"({"delivery":[)", 0) != 0) return std::nullopt;
  static const std::regex entry(R"re(\{"mote":([0-9]+),"expected":(\w+),"received":(\w+),"ratio":[^}]*\})re");
  std::map<int, Delivered> by_mote;
  for (std::sregex_iterator i(line.begin(), line.end(), entry), end; i != end; ++i) {
    by_mote[std::stoi((*i)[1])] = {int_or_minus_one((*i)[2]), int_or_minus_one((*i)[3])};
  }
  return by_mote;
}

struct RunOutput {
  control_test::ToolResult tool;
  std::vector<Row> rows;
  std::optional<std::map<int, Delivered>> delivery;  // the summary after the rows
  bool all_lines_read = true;
};

// Standard error without what every run prints there: the ports of the
// simulation it starts and the delivery table it ends with.
inline std::string complaints_in(const std::string& err) {
  std::string kept;
  bool in_table = false;
  std::istringstream lines(err);
  for (std::string line; std::getline(lines, line);) {
    if (line.rfind("brelo-ctl: brelo runs on ports ", 0) == 0) continue;
    if (line.rfind("delivery per source mote", 0) == 0) in_table = true;
    if (in_table && (line.empty() || line[0] != ' ') && line.rfind("delivery", 0) != 0) in_table = false;
    if (!in_table) kept += line + "\n";
  }
  return kept;
}

// A query file of the test's own, removed at the end.
class TempFile {
 public:
  explicit TempFile(const std::string& text) {
    char name[] = "/tmp/brelo-query-XXXXXX";
    int fd = ::mkstemp(name);
    path_ = name;
    ::close(fd);
    std::ofstream(path_) << text;
  }
  ~TempFile() { ::unlink(path_.c_str()); }
  const std::string& path() const { return path_; }

 private:
  std::string path_;
};

inline std::string example(const std::string& name) {
  return std::string(EXAMPLES_DIR) + "/" + name + ".query";
}

// brelo-ctl run FILE --json (fast) plus `extra`.
inline RunOutput run_json(const std::string& file, std::vector<std::string> extra = {}) {
  std::vector<std::string> args = {"run", file, "--json", "--rate", "1000"};
  args.insert(args.end(), extra.begin(), extra.end());
  RunOutput run;
  run.tool = control_test::run_tool(args, std::chrono::seconds(60));
  std::istringstream lines(run.tool.out);
  for (std::string line; std::getline(lines, line);) {
    auto row = parse_row(line);
    if (row && !run.delivery) {
      run.rows.push_back(*row);
    } else if (auto delivery = parse_delivery(line); delivery && !run.delivery) {
      run.delivery = delivery;
    } else {
      run.all_lines_read = false;
    }
  }
  return run;
}

}  // namespace query_run_test

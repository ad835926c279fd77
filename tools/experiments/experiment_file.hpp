#pragma once
// An experiment file: the query files to run and the parameters to vary,
// one statement a line, '#' to the end of a line a comment:
//
//   name delivery_vs_links
//   query ../examples/tree_collection.query    # relative to this file
//   vary seed 1..5                              # a range of whole numbers
//   vary link_p 0, 0.0005, 0.001                # or a list
//   set until 60                                # one value, for every run
//   repeat 1
//
// Reading is strict: every mistake is reported as FILE:LINE and nothing
// runs. docs/experiments.md describes the statements.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace experiments {

// The parameters a run can be given, in the order they appear in run names.
enum class Parameter { motes, seed, link_p, period, topology, fast, until };
inline constexpr Parameter all_parameters[] = {Parameter::motes,  Parameter::seed,     Parameter::link_p,
                                               Parameter::period, Parameter::topology, Parameter::fast,
                                               Parameter::until};
const char* parameter_name(Parameter p);

// A parameter's values: numbers (whole for motes, seed and until), or
// paths of lossy-link files, or fast's yes/no as 1/0.
struct Setting {
  Parameter parameter = Parameter::seed;
  bool varied = false;  // 'vary' (part of run names) rather than 'set'
  std::vector<double> numbers;
  std::vector<std::string> paths;    // topology: resolved against the file's folder
  std::vector<std::string> written;  // topology: as the file writes them
  int line = 0;
  std::size_t count() const { return parameter == Parameter::topology ? paths.size() : numbers.size(); }
};

struct Experiment {
  std::string file;                  // as given, for messages
  std::string name;                  // 'name', else the file's stem
  std::vector<std::string> queries;  // resolved against the file's folder
  std::vector<Setting> settings;     // at most one per parameter
  int repeat = 1;
  const Setting* setting(Parameter p) const;
};

struct ExperimentParse {
  Experiment experiment;
  std::vector<std::string> errors;  // "FILE:LINE: what is wrong"
};

// Reads the text of the experiment file `file` (paths in it are relative to
// the file's folder).
ExperimentParse parse_experiment(std::string_view text, const std::string& file);

// A number as run names and parameters show it: the shortest text that
// reads back as the same double ("0.001", "20").
std::string number_text(double value);

}  // namespace experiments

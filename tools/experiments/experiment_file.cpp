#include "experiments/experiment_file.hpp"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <filesystem>
#include <set>

namespace experiments {
namespace {
namespace fs = std::filesystem;

struct Limits {
  Parameter parameter;
  const char* name;
  bool whole;
  double low;
  double high;
  const char* what;  // how a wrong value is explained
};

constexpr Limits limits[] = {
    {Parameter::motes, "motes", true, 1, 1000, "a number of motes from 1 to 1000"},
    {Parameter::seed, "seed", true, 0, 2147483647, "a seed from 0 to 2147483647"},
    {Parameter::link_p, "link_p", false, 0, 1, "a bit-error probability from 0 to 1"},
    {Parameter::period, "period", false, 0.001, 86400, "a sampling period in seconds, above 0"},
    {Parameter::topology, "topology", false, 0, 0, "lossy-link files"},
    {Parameter::fast, "fast", true, 0, 1, "yes or no"},
    {Parameter::until, "until", true, 1, 1000000, "whole virtual seconds from 1 to 1000000"},
};

const Limits* limits_of(std::string_view name) {
  for (const Limits& l : limits) {
    if (name == l.name) return &l;
  }
  return nullptr;
}

std::string_view trim(std::string_view s) {
  while (!s.empty() && (s.front() == ' ' || s.front() == '\t' || s.front() == '\r')) s.remove_prefix(1);
  while (!s.empty() && (s.back() == ' ' || s.back() == '\t' || s.back() == '\r')) s.remove_suffix(1);
  return s;
}

std::optional<double> read_number(std::string_view text) {
  double value = 0;
  auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (ec != std::errc{} || end != text.data() + text.size() || !std::isfinite(value)) return std::nullopt;
  return value;
}

std::vector<std::string_view> split_list(std::string_view text) {
  std::vector<std::string_view> items;
  for (;;) {
    const auto comma = text.find(',');
    items.push_back(trim(text.substr(0, comma)));
    if (comma == std::string_view::npos) return items;
    text.remove_prefix(comma + 1);
  }
}

class Reader {
 public:
  Reader(const std::string& file) : file_(file) {
    result_.experiment.file = file;
    folder_ = fs::path(file).parent_path();
  }

  ExperimentParse finish(int last_line) {
    Experiment& e = result_.experiment;
    if (!saw_query_) error(last_line, "no 'query' line: an experiment runs at least one query file");
    if (e.name.empty()) e.name = fs::path(file_).stem().string();
    if (e.repeat > 1 && e.setting(Parameter::seed) != nullptr) {
      error(repeat_line_,
            "give 'repeat' or a seed, not both: the same seed repeats the same run; "
            "'repeat N' runs seeds 1 to N");
    }
    return std::move(result_);
  }

  void statement(std::string_view line, int number) {
    line_ = number;
    const auto space = line.find_first_of(" \t");
    const std::string_view keyword = line.substr(0, space);
    const std::string_view rest = space == std::string_view::npos ? "" : trim(line.substr(space));
    if (keyword == "name") return name(rest);
    if (keyword == "query") return query(rest);
    if (keyword == "vary") return setting(rest, true);
    if (keyword == "set") return setting(rest, false);
    if (keyword == "repeat") return repeat(rest);
    error("unknown statement '" + std::string(keyword) + "' (expected name, query, vary, set or repeat)");
  }

 private:
  void error(int line, const std::string& text) {
    result_.errors.push_back(file_ + ":" + std::to_string(line) + ": " + text);
  }
  void error(const std::string& text) { error(line_, text); }

  std::string resolve(std::string_view path) const {
    fs::path p(path);
    return (p.is_absolute() ? p : folder_ / p).lexically_normal().string();
  }

  void name(std::string_view rest) {
    const bool plain = !rest.empty() && std::all_of(rest.begin(), rest.end(), [](char c) {
      return std::isalnum(static_cast<unsigned char>(c)) != 0 || c == '_' || c == '-' || c == '.';
    });
    if (!plain) return error("'name' takes one word of letters, digits, '_', '-' or '.'");
    if (!result_.experiment.name.empty()) return error("a second 'name'");
    result_.experiment.name = rest;
  }

  void query(std::string_view rest) {
    saw_query_ = true;
    if (rest.empty()) return error("'query' takes the path of a query file");
    const std::string path = resolve(rest);
    if (!fs::is_regular_file(path)) return error("cannot read query file " + path);
    const std::string stem = fs::path(path).stem().string();
    for (const std::string& q : result_.experiment.queries) {
      if (fs::path(q).stem() == stem) {
        return error("two query files named '" + stem + "': runs are named by the file's name");
      }
    }
    result_.experiment.queries.push_back(path);
  }

  void repeat(std::string_view rest) {
    const std::optional<double> n = read_number(rest);
    if (!n || *n != std::floor(*n) || *n < 1 || *n > 10000) {
      return error("'repeat' takes a whole number from 1 to 10000");
    }
    if (repeat_line_ != 0) return error("a second 'repeat'");
    repeat_line_ = line_;
    result_.experiment.repeat = static_cast<int>(*n);
  }

  void setting(std::string_view rest, bool varied) {
    const char* keyword = varied ? "vary" : "set";
    const auto space = rest.find_first_of(" \t");
    const std::string_view name = rest.substr(0, space);
    const std::string_view values = space == std::string_view::npos ? "" : trim(rest.substr(space));
    const Limits* l = limits_of(name);
    if (l == nullptr) {
      return error("unknown parameter '" + std::string(name) +
                   "' (expected motes, seed, link_p, period, topology, fast or until)");
    }
    if (values.empty()) return error(std::string("'") + keyword + " " + l->name + "' needs " + l->what);
    Experiment& e = result_.experiment;
    if (const Setting* earlier = e.setting(l->parameter)) {
      return error(std::string(l->name) + " is already given on line " + std::to_string(earlier->line));
    }
    Setting s;
    s.parameter = l->parameter;
    s.varied = varied;
    s.line = line_;
    if (!read_values(*l, values, s)) return;
    if (!varied && s.count() != 1)
      return error(std::string("'set ") + l->name + "' takes one value; 'vary' takes several");
    e.settings.push_back(std::move(s));
  }

  bool read_values(const Limits& l, std::string_view values, Setting& s) {
    const auto range = values.find("..");
    if (range != std::string_view::npos) {
      if (!l.whole || l.parameter == Parameter::fast) {
        error(std::string(l.name) + " takes a list (a, b, c); ranges a..b are for whole numbers");
        return false;
      }
      auto low = read_number(trim(values.substr(0, range)));
      auto high = read_number(trim(values.substr(range + 2)));
      if (!low || !high || !valid(l, *low) || !valid(l, *high) || *low > *high) {
        error(std::string("range ") + std::string(values) + " of " + l.name + ": needs " + l.what +
              " at both ends, the lower first");
        return false;
      }
      if (*high - *low >= 100000) {
        error(std::string("range ") + std::string(values) + " has more than 100000 values");
        return false;
      }
      for (double v = *low; v <= *high; ++v) s.numbers.push_back(v);
      return true;
    }
    for (std::string_view item : split_list(values)) {
      if (l.parameter == Parameter::topology) {
        const std::string path = resolve(item);
        if (item.empty() || !fs::is_regular_file(path)) {
          error("cannot read lossy-link file " + (item.empty() ? std::string("''") : path));
          return false;
        }
        if (std::find(s.paths.begin(), s.paths.end(), path) != s.paths.end()) {
          error("topology " + path + " is listed twice");
          return false;
        }
        s.paths.push_back(path);
        s.written.emplace_back(item);
        continue;
      }
      std::optional<double> v;
      if (l.parameter == Parameter::fast) {
        if (item == "yes") v = 1;
        if (item == "no") v = 0;
      } else {
        v = read_number(item);
      }
      if (!v || !valid(l, *v)) {
        error("'" + std::string(item) + "' is not " + l.what);
        return false;
      }
      if (std::find(s.numbers.begin(), s.numbers.end(), *v) != s.numbers.end()) {
        error(std::string(l.name) + " " + std::string(item) + " is listed twice");
        return false;
      }
      s.numbers.push_back(*v);
    }
    std::sort(s.numbers.begin(), s.numbers.end());
    return true;
  }

  static bool valid(const Limits& l, double v) {
    return v >= l.low && v <= l.high && (!l.whole || v == std::floor(v));
  }

  std::string file_;
  fs::path folder_;
  ExperimentParse result_;
  int line_ = 0;
  int repeat_line_ = 0;
  bool saw_query_ = false;  // a wrong one included: then it has been told
};
}  // namespace

const char* parameter_name(Parameter p) {
  for (const Limits& l : limits) {
    if (l.parameter == p) return l.name;
  }
  return "?";
}

const Setting* Experiment::setting(Parameter p) const {
  for (const Setting& s : settings) {
    if (s.parameter == p) return &s;
  }
  return nullptr;
}

ExperimentParse parse_experiment(std::string_view text, const std::string& file) {
  Reader reader(file);
  int number = 0;
  while (!text.empty() || number == 0) {
    ++number;
    const auto end = text.find('\n');
    std::string_view line = text.substr(0, end);
    text = end == std::string_view::npos ? std::string_view{} : text.substr(end + 1);
    if (const auto hash = line.find('#'); hash != std::string_view::npos) line = line.substr(0, hash);
    line = trim(line);
    if (!line.empty()) reader.statement(line, number);
    if (text.empty()) break;
  }
  return reader.finish(number);
}

std::string number_text(double value) {
  char text[32];
  auto [end, ec] = std::to_chars(text, text + sizeof text, value);
  return ec == std::errc{} ? std::string(text, end) : std::string("nan");
}

}  // namespace experiments

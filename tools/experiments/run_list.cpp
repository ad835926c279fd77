#include "experiments/run_list.hpp"

#include <filesystem>

#include "lib/json.hpp"

namespace experiments {
namespace {

std::string stem(const std::string& path) { return std::filesystem::path(path).stem().string(); }

// Sets value `index` of setting `s` on the run; the text it shows in names.
std::string apply(const Setting& s, std::size_t index, RunSetup& run, brelo_host::JsonObject& json) {
  const char* name = parameter_name(s.parameter);
  if (s.parameter == Parameter::topology) {
    run.topology = s.paths[index];
    // As written, so that the parameters read the same wherever it runs.
    json.text(name, s.written[index]);
    return stem(s.paths[index]);
  }
  const double v = s.numbers[index];
  std::string text = number_text(v);
  switch (s.parameter) {
    case Parameter::motes:
      run.motes = static_cast<int>(v);
      break;
    case Parameter::seed:
      run.seed = static_cast<uint32_t>(v);
      break;
    case Parameter::link_p:
      run.link_p = v;
      break;
    case Parameter::period:
      run.period = v;
      break;
    case Parameter::fast:
      run.fast = v != 0;
      json.raw(name, v != 0 ? "true" : "false");
      return v != 0 ? "yes" : "no";
    case Parameter::until:
      run.until = static_cast<int>(v);
      break;
    case Parameter::topology:
      break;
  }
  json.raw(name, text);
  return text;
}
}  // namespace

std::vector<RunSetup> expand(const Experiment& experiment) {
  // Odometer over the settings in name order, the last turning fastest;
  // repetitions (as seeds) take the seed's place.
  struct Axis {
    const Setting* setting;  // nullptr: the repetition
    std::size_t count;
  };
  std::vector<Axis> axes;
  for (Parameter p : all_parameters) {
    if (const Setting* s = experiment.setting(p)) axes.push_back({s, s->count()});
    if (p == Parameter::seed && experiment.repeat > 1) {
      axes.push_back({nullptr, static_cast<std::size_t>(experiment.repeat)});
    }
  }
  std::vector<RunSetup> runs;
  for (const std::string& query : experiment.queries) {
    std::vector<std::size_t> at(axes.size(), 0);
    for (;;) {
      RunSetup run;
      run.query = query;
      brelo_host::JsonObject json;
      json.text("query", stem(query));
      run.id = "query=" + stem(query);
      for (std::size_t a = 0; a < axes.size(); ++a) {
        if (axes[a].setting == nullptr) {
          run.seed = static_cast<uint32_t>(at[a] + 1);
          json.raw("seed", std::to_string(*run.seed));
          run.id += ",seed=" + std::to_string(*run.seed);
          continue;
        }
        const std::string text = apply(*axes[a].setting, at[a], run, json);
        if (axes[a].setting->varied)
          run.id += std::string(",") + parameter_name(axes[a].setting->parameter) + "=" + text;
      }
      run.parameters = json.str();
      runs.push_back(std::move(run));
      std::size_t a = axes.size();
      while (a > 0 && ++at[a - 1] == axes[a - 1].count) at[--a] = 0;
      if (a == 0) break;
    }
  }
  return runs;
}

}  // namespace experiments

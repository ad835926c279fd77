#include "ctl/run_record.hpp"

#include <cstdio>
#include <filesystem>
#include <system_error>

#include "ctl/build_info.hpp"

namespace brelo_ctl {
namespace {
namespace fs = std::filesystem;

std::string or_unknown(const char* text) { return *text != '\0' ? text : "unknown"; }

bool write_file(const std::string& path, const std::string& text, std::string& why) {
  std::ofstream out(path, std::ios::trunc);
  out << text;
  out.close();
  if (out) return true;
  why = "cannot write " + path;
  return false;
}

std::string quoted(const std::string& word) {
  const bool plain = !word.empty() && word.find_first_not_of(
                                          "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ"
                                          "0123456789-_=./,:+@%") == std::string::npos;
  if (plain) return word;
  std::string out = "'";
  for (char c : word) out += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return out + "'";
}
}  // namespace

std::string shell_words(const std::vector<std::string>& words) {
  std::string line;
  for (const std::string& w : words) line += (line.empty() ? "" : " ") + quoted(w);
  return line;
}

std::unique_ptr<RunRecord> RunRecord::create(const std::string& dir, std::string& why) {
  std::error_code error;
  fs::create_directories(dir, error);
  if (error || !fs::is_directory(dir)) {
    why = "cannot make the folder " + dir + (error ? ": " + error.message() : "");
    return nullptr;
  }
  std::unique_ptr<RunRecord> record(new RunRecord(dir));
  record->results_file_.open(record->path("results.csv"), std::ios::trunc);
  if (!record->results_file_) {
    why = "cannot write " + record->path("results.csv");
    return nullptr;
  }
  record->results_ =
      brelo_host::make_result_sink(brelo_host::ResultFormat::csv, record->results_file_);
  return record;
}

bool RunRecord::keep_copy(const std::string& file, std::string& why) const {
  std::error_code error;
  const fs::path to = fs::path(dir_) / fs::path(file).filename();
  // Already there (a run whose folder holds its own query file).
  if (fs::exists(to) && fs::equivalent(file, to, error)) return true;
  fs::copy_file(file, to, fs::copy_options::overwrite_existing, error);
  if (!error) return true;
  why = "cannot copy " + file + " to " + dir_ + ": " + error.message();
  return false;
}

bool RunRecord::write_run(const Facts& facts, std::string& why) const {
  std::string text;
  if (facts.brelo_command.empty()) {
    text += "brelo: (a simulation already running, attached to)\n";
  } else {
    // The results come through the control ports; brelo prints nothing.
    text += "brelo: DBG= " + shell_words(facts.brelo_command) + "\n";
  }
  text += "seed: " + (facts.seed ? std::to_string(*facts.seed) : std::string("unknown")) + "\n";
  text += "ports: " + std::to_string(facts.command_port) + " (commands), " +
          std::to_string(facts.command_port + 1) + " (events)\n";
  text += "version: " + or_unknown(build_version()) + "\n";
  text += "commit: " + or_unknown(build_commit()) + "\n";
  return write_file(path("run.txt"), text, why);
}

bool RunRecord::write_delivery(const std::vector<query_file::Delivery>& summary,
                               std::string& why) const {
  auto cell = [](const std::optional<int64_t>& n) { return n ? std::to_string(*n) : ""; };
  std::string text = "mote,expected,received,ratio\n";
  for (const query_file::Delivery& d : summary) {
    char ratio[32] = "";
    if (auto r = d.ratio()) std::snprintf(ratio, sizeof ratio, "%.4f", *r);
    text += std::to_string(d.mote) + "," + cell(d.expected) + "," + cell(d.received) + "," + ratio +
            "\n";
  }
  return write_file(path("delivery.csv"), text, why);
}

}  // namespace brelo_ctl

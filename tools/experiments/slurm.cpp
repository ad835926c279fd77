#include "experiments/slurm.hpp"

#include <algorithm>
#include <regex>
#include <sstream>

namespace experiments {

int task_count(std::size_t runs, int cap) {
  return static_cast<int>(std::max<std::size_t>(1, std::min<std::size_t>(runs, static_cast<std::size_t>(cap))));
}

std::string shell_quoted(const std::string& word) {
  std::string out = "'";
  for (char c : word) out += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return out + "'";
}

std::string batch_script(const SlurmJob& job) {
  std::ostringstream out;
  std::string dir = job.shared_dir.string();
  out << "#!/bin/sh\n"
         "# One task of the sweep " << job.name << ": the runs whose index i has\n"
         "# i % " << job.tasks << " == $SLURM_ARRAY_TASK_ID, into a part database of its own.\n"
         "set -e\n"
         "task=\"${SLURM_ARRAY_TASK_ID:?not started as a Slurm array task}\"\n"
         "exec " << shell_quoted(job.task_program.string()) << " sweep "
      << shell_quoted(job.experiment.string()) << " --task \"$task\" --of " << job.tasks;
  if (job.jobs) out << " --jobs " << *job.jobs;
  out << " --db " << shell_quoted(dir + "/part_") << "\"$task\"" << shell_quoted(".sqlite") << "\n";
  return out.str();
}

std::vector<std::string> sbatch_arguments(const SlurmJob& job, const std::filesystem::path& script,
                                          bool wait) {
  std::vector<std::string> args = {
      "sbatch",
      "--parsable",
      "--array=0-" + std::to_string(job.tasks - 1),
      "--job-name=" + job.name,
      "--chdir=" + job.shared_dir.string(),
      "--output=" + (job.shared_dir / "task_%a.log").string(),
  };
  if (job.partition) args.push_back("--partition=" + *job.partition);
  if (job.time) args.push_back("--time=" + *job.time);
  if (job.memory) args.push_back("--mem=" + *job.memory);
  if (job.jobs) args.push_back("--cpus-per-task=" + std::to_string(*job.jobs));
  if (wait) args.push_back("--wait");
  args.push_back(script.string());
  return args;
}

std::optional<std::string> job_id_in(const std::string& sbatch_output) {
  // --parsable prints "42" or "42;cluster"; older answers read
  // "Submitted batch job 42".
  static const std::regex id(R"((?:^|Submitted batch job )(\d+)(?:;|\s|$))");
  std::smatch match;
  if (std::regex_search(sbatch_output, match, id)) return match[1].str();
  return std::nullopt;
}

}  // namespace experiments

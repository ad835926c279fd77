#pragma once
// Submitting a sweep to Slurm as a job array: one task per share of the
// runs, each writing a part database of its own into a shared folder
// (DIR/part_<K>.sqlite), which `sweep --collect` merges afterwards.

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace experiments {

struct SlurmJob {
  std::string name;                      // the job's name in squeue
  std::filesystem::path shared_dir;      // part databases, the script and the task logs
  std::filesystem::path experiment;      // the experiment file, absolute
  // The program each task runs, absolute: brelo-ctl itself.
  std::filesystem::path task_program;
  int tasks = 1;
  std::optional<int> jobs;               // --jobs of each task (and its CPUs)
  std::optional<std::string> partition, time, memory;
};

// How many array tasks a sweep of `runs` runs gets: one per run up to `cap`.
int task_count(std::size_t runs, int cap);

// The batch script: task $SLURM_ARRAY_TASK_ID runs
//   PROGRAM sweep FILE --task K --of N --db DIR/part_K.sqlite
std::string batch_script(const SlurmJob& job);

// sbatch's command line for the script at `script` (the array, the
// pass-through options, the task logs in the shared folder).
std::vector<std::string> sbatch_arguments(const SlurmJob& job, const std::filesystem::path& script,
                                          bool wait);

// The job id in sbatch's answer ("Submitted batch job 42"), if any.
std::optional<std::string> job_id_in(const std::string& sbatch_output);

// A word quoted for the shell.
std::string shell_quoted(const std::string& word);

}  // namespace experiments

#include "ctl/sweep_cluster.hpp"

#include <fstream>
#include <iostream>

#include "experiments/collect.hpp"
#include "experiments/slurm.hpp"
#include "lib/process.hpp"

namespace brelo_ctl {
namespace fs = std::filesystem;
namespace {

const Option slurm{.name = "--slurm",
                   .help = "submit the sweep to Slurm as a job array, each task writing\n"
                           "DIR/part_<K>.sqlite; prints the job id"};
const Option collect{.name = "--collect",
                     .help = "merge DIR/part_*.sqlite into the database, refusing runs\n"
                             "missing from every part or found in two"};
const Option shared{.name = "--shared",
                    .kind = Option::Kind::text,
                    .value = "DIR",
                    .help = "the folder the tasks share (default: FILE's name + .parts)"};
const Option wait{.name = "--wait", .help = "with --slurm: wait until every task has ended"};
const Option tasks{.name = "--tasks",
                   .kind = Option::Kind::integer,
                   .value = "N",
                   .help = "with --slurm: at most N array tasks (default 100)",
                   .whole_low = 1,
                   .whole_high = 10000,
                   .complaint = "--tasks takes a number from 1 to 10000"};
const Option partition{.name = "--partition",
                       .kind = Option::Kind::text,
                       .value = "P",
                       .help = "with --slurm: sbatch's --partition, --time and --mem"};
const Option time_limit{.name = "--time", .kind = Option::Kind::text, .value = "T"};
const Option memory{.name = "--mem", .kind = Option::Kind::text, .value = "M"};
// The sweep's own --jobs, passed on to each task.
const Option jobs_of_task{.name = "--jobs",
                          .kind = Option::Kind::integer,
                          .whole_low = 1,
                          .whole_high = 256,
                          .complaint = "--jobs takes a number from 1 to 256"};

constexpr int default_task_cap = 100;

fs::path this_program() {
  std::error_code error;
  fs::path self = fs::read_symlink("/proc/self/exe", error);
  return error ? fs::path("brelo-ctl") : self;
}

// Part files a previous submission with more tasks left behind would be
// merged as if this one wrote them.
std::vector<fs::path> stale_parts(const fs::path& dir, int tasks) {
  std::vector<fs::path> stale;
  for (const auto& part : experiments::find_parts(dir)) {
    std::string name = part.filename().string();
    long k = std::stol(name.substr(5));
    if (k >= tasks) stale.push_back(part);
  }
  return stale;
}

int submit(Invocation& call, const experiments::ClusterPlan& plan) {
  experiments::SlurmJob job;
  fs::path experiment = fs::absolute(plan.experiment_file);
  job.name = "brelo-" + (plan.name.empty() ? experiment.stem().string() : plan.name);
  job.shared_dir = fs::absolute(shared_folder(call, experiment)).lexically_normal();
  job.experiment = experiment.lexically_normal();
  job.task_program = this_program();
  job.tasks = experiments::task_count(plan.run_ids.size(),
                                      static_cast<int>(call.integer(tasks).value_or(default_task_cap)));
  if (auto jobs = call.integer(jobs_of_task)) job.jobs = static_cast<int>(*jobs);
  job.partition = call.text(partition);
  job.time = call.text(time_limit);
  job.memory = call.text(memory);

  std::error_code error;
  fs::create_directories(job.shared_dir, error);
  if (error) {
    *call.err << program << ": cannot create " << job.shared_dir.string() << ": " << error.message() << "\n";
    return EXIT_USAGE;
  }
  if (auto stale = stale_parts(job.shared_dir, job.tasks); !stale.empty()) {
    *call.err << program << ": " << job.shared_dir.string() << " holds parts of an earlier submission of more tasks ("
              << stale.front().filename().string() << (stale.size() > 1 ? ", ..." : "")
              << "); remove them, or give --tasks to match it\n";
    return EXIT_USAGE;
  }
  fs::path script = job.shared_dir / "sweep.sbatch";
  {
    std::ofstream out(script);
    out << experiments::batch_script(job);
    if (!out.flush()) {
      *call.err << program << ": cannot write " << script.string() << "\n";
      return EXIT_USAGE;
    }
  }
  fs::permissions(script, fs::perms::owner_exec | fs::perms::group_exec, fs::perm_options::add, error);

  bool waiting = call.has(wait);
  auto args = experiments::sbatch_arguments(job, script, waiting);
  brelo_host::Launch launch;
  launch.program = "sbatch";
  launch.argv = args;
  launch.out = brelo_host::Output::pipe;
  launch.err = brelo_host::Output::pipe;
  brelo_host::Process sbatch;
  std::string why;
  if (!sbatch.start(launch, &why)) {
    *call.err << program << ": cannot run sbatch (" << why << "); is Slurm installed here?\n";
    return EXIT_NOT_RUNNING;
  }
  // sbatch --wait names the job at once and ends with the array, so the id
  // is told as soon as it appears.
  std::string answer, errors;
  std::optional<std::string> id;
  sbatch.read_output(std::nullopt, [&](brelo_host::Process::Stream stream, std::string_view text) {
    (stream == brelo_host::Process::Stream::out ? answer : errors) += text;
    if (!id && answer.find('\n') != std::string::npos) {
      id = experiments::job_id_in(answer);
      if (id) {
        *call.out << *id << "\n";
        call.out->flush();
        *call.err << program << ": job " << *id << ": " << job.tasks << " task" << (job.tasks == 1 ? "" : "s")
                  << " for " << plan.run_ids.size() << " runs, writing " << job.shared_dir.string()
                  << "/part_<K>.sqlite\n";
      }
    }
  });
  auto status = sbatch.wait(std::chrono::milliseconds(1000));
  if (!id) {
    *call.err << program << ": sbatch did not submit the sweep:\n" << errors << answer;
    return EXIT_NOT_RUNNING;
  }
  if (!status.exited || status.code != 0) {
    *call.err << program << ": job " << *id << ": a task failed (see " << job.shared_dir.string()
              << "/task_<K>.log)\n"
              << errors;
    return EXIT_NOT_RUNNING;
  }
  if (waiting) {
    *call.err << program << ": job " << *id << " finished; merge it with: brelo-ctl sweep "
              << plan.experiment_file << " --collect" << (call.has(shared) ? " --shared " + job.shared_dir.string() : "")
              << "\n";
  }
  return EXIT_DONE;
}

int merge(Invocation& call, const experiments::ClusterPlan& plan, const fs::path& database) {
  fs::path dir = shared_folder(call, plan.experiment_file);
  experiments::CollectOutcome outcome;
  try {
    outcome = experiments::collect_parts(plan, dir, database);
  } catch (const std::exception& error) {
    *call.err << program << ": collect failed, the database is unchanged: " << error.what() << "\n";
    return EXIT_CONNECTION;
  }
  if (!outcome.merged) {
    *call.err << program << ": nothing merged from " << dir.string() << " (" << outcome.parts.size()
              << " part" << (outcome.parts.size() == 1 ? "" : "s") << "):\n"
              << experiments::describe_refusal(outcome);
    return EXIT_USAGE;
  }
  *call.err << program << ": " << outcome.copied << " runs from " << outcome.parts.size() << " parts merged into "
            << database.string() << (outcome.already ? " (" + std::to_string(outcome.already) + " were there)" : "")
            << "\n";
  return EXIT_DONE;
}

void refuse_slurm_only_options(const Invocation& call) {
  for (const Option* option : {&wait, &tasks, &partition, &time_limit, &memory}) {
    if (call.has(*option)) throw UsageError{std::string(option->name) + " goes with --slurm"};
  }
}

}  // namespace

void add_cluster_options(std::vector<Option>& options) {
  for (const Option& option : {slurm, collect, shared, wait, tasks, partition, time_limit, memory}) {
    options.push_back(option);
  }
}

bool cluster_mode_asked(const Invocation& call) { return call.has(slurm) || call.has(collect); }

fs::path shared_folder(const Invocation& call, const fs::path& experiment) {
  if (auto dir = call.text(shared)) return *dir;
  return experiment.string() + ".parts";
}

int run_cluster_mode(Invocation& call, const experiments::ClusterPlan& plan, const fs::path& database) {
  if (call.has(slurm) && call.has(collect)) throw UsageError{"--slurm and --collect are one or the other"};
  if (call.has(collect)) {
    refuse_slurm_only_options(call);
    return merge(call, plan, database);
  }
  if (!call.has(slurm)) {
    if (call.has(shared)) throw UsageError{"--shared goes with --slurm or --collect"};
    refuse_slurm_only_options(call);
    return EXIT_DONE;
  }
  if (plan.run_ids.empty()) {
    *call.err << program << ": " << plan.experiment_file << " has no runs\n";
    return EXIT_USAGE;
  }
  return submit(call, plan);
}

}  // namespace brelo_ctl

// Times whole runs of programs the way the mailing host starts them: one
// process per message, each waited for before the next starts. Every run is
// measured from just before posix_spawn to the return of wait4, so start-up,
// dynamic linking and exit are all inside the figure; nothing else is (the
// message files are prepared beforehand).
//
//   kelvorin_run_timed [--block N] [--out FILE] LABEL=PLAN [LABEL=PLAN ...]
//
// A plan is a text file with one run per line, its argv separated by tabs.
// The plans are taken in turns, N lines (default 50) of each at a time, so
// every program sees the same background load when the machine is shared.
// Output: one tab-separated line per run: label, run index, wall, user and
// system time in microseconds, peak resident memory in KiB, exit status.
#include <fcntl.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <time.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>
#include <vector>

extern char** environ;

namespace {

struct Plan {
  std::string label;
  std::vector<std::vector<std::string>> runs;
  std::size_t next = 0;
};

struct Sample {
  long long wall_us;
  long long user_us;
  long long system_us;
  long max_rss_kib;
  int status;  // the exit code, or 128 + the signal
};

std::vector<std::string> SplitTabs(const std::string& line) {
  std::vector<std::string> fields;
  std::size_t from = 0;
  for (std::size_t at; (at = line.find('\t', from)) != std::string::npos; from = at + 1) {
    fields.push_back(line.substr(from, at - from));
  }
  fields.push_back(line.substr(from));
  return fields;
}

bool LoadPlan(const std::string& argument, Plan* plan) {
  std::size_t eq = argument.find('=');
  if (eq == std::string::npos) return false;
  plan->label = argument.substr(0, eq);
  std::ifstream in(argument.substr(eq + 1));
  if (!in) return false;
  for (std::string line; std::getline(in, line);) {
    if (!line.empty()) plan->runs.push_back(SplitTabs(line));
  }
  return !plan->runs.empty();
}

long long Microseconds(const struct timeval& t) {
  return static_cast<long long>(t.tv_sec) * 1000000 + t.tv_usec;
}

long long MonotonicMicroseconds() {
  struct timespec now;
  clock_gettime(CLOCK_MONOTONIC, &now);
  return static_cast<long long>(now.tv_sec) * 1000000 + now.tv_nsec / 1000;
}

// Standard output goes to /dev/null (a run that prints would otherwise be
// timed against the terminal); standard error stays, so failures show.
bool SpawnAndWait(const std::vector<std::string>& argv, Sample* sample) {
  std::vector<char*> args;
  for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
  args.push_back(nullptr);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
  long long start = MonotonicMicroseconds();
  pid_t pid;
  int error = posix_spawn(&pid, args[0], &actions, nullptr, args.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  if (error != 0) {
    std::fprintf(stderr, "run_timed: cannot start %s: %s\n", args[0], std::strerror(error));
    return false;
  }
  int status = 0;
  struct rusage usage;
  wait4(pid, &status, 0, &usage);
  sample->wall_us = MonotonicMicroseconds() - start;
  sample->user_us = Microseconds(usage.ru_utime);
  sample->system_us = Microseconds(usage.ru_stime);
  sample->max_rss_kib = usage.ru_maxrss;
  sample->status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  return true;
}

// Runs up to block lines of plan; false once a run could not be started.
bool RunBlock(Plan& plan, std::size_t block, std::FILE* out, int* failures) {
  for (std::size_t i = 0; i < block && plan.next < plan.runs.size(); ++i, ++plan.next) {
    Sample s;
    if (!SpawnAndWait(plan.runs[plan.next], &s)) return false;
    if (s.status != 0) ++*failures;
    std::fprintf(out, "%s\t%zu\t%lld\t%lld\t%lld\t%ld\t%d\n", plan.label.c_str(), plan.next,
                 s.wall_us, s.user_us, s.system_us, s.max_rss_kib, s.status);
  }
  return true;
}

bool Done(const std::vector<Plan>& plans) {
  for (const Plan& p : plans) {
    if (p.next < p.runs.size()) return false;
  }
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  std::size_t block = 50;
  std::FILE* out = stdout;
  std::vector<Plan> plans;
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "--block") == 0 && i + 1 < argc) {
      block = static_cast<std::size_t>(std::atol(argv[++i]));
    } else if (std::strcmp(argv[i], "--out") == 0 && i + 1 < argc) {
      out = std::fopen(argv[++i], "a");
      if (out == nullptr) return 2;
    } else {
      plans.emplace_back();
      if (!LoadPlan(argv[i], &plans.back())) {
        std::fprintf(stderr, "run_timed: bad plan %s (want LABEL=FILE, FILE not empty)\n", argv[i]);
        return 2;
      }
    }
  }
  if (plans.empty() || block == 0) {
    std::fputs("usage: kelvorin_run_timed [--block N] [--out FILE] LABEL=PLAN...\n", stderr);
    return 2;
  }
  int failures = 0;
  while (!Done(plans)) {
    for (Plan& p : plans) {
      if (!RunBlock(p, block, out, &failures)) return 1;
    }
  }
  std::fflush(out);
  if (failures > 0) std::fprintf(stderr, "run_timed: %d runs exited non-zero\n", failures);
  return failures > 0 ? 1 : 0;
}

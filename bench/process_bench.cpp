// Whole-process figures: the simulation traced against the same sources
// with empty hooks (alternating runs, medians of wall and CPU time, peak
// memory, trace bytes), and long traced runs of 10^6, 10^7 and 10^8 events
// for the cost and the compressed trace bytes per event and whether both
// stay flat with run length.
//
//   ./build/bench/prof_process_bench [--runs=N] [--max-events=N]
#include <dirent.h>
#include <fcntl.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cinttypes>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

extern char** environ;

namespace {

struct Outcome {
  double wallMs = 0;
  double cpuMs = 0;
  long maxRssKb = 0;
  std::string out;
};

double nowMs() {
  timespec t;
  clock_gettime(CLOCK_MONOTONIC, &t);
  return t.tv_sec * 1e3 + t.tv_nsec / 1e6;
}

// Runs argv in dir with standard output captured; exits on failure.
Outcome run(const std::vector<std::string>& args, const std::string& dir) {
  const std::string outPath = dir + "/stdout.txt";
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addchdir_np(&actions, dir.c_str());
  posix_spawn_file_actions_addopen(&actions, 1, outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
  std::vector<char*> argv;
  for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
  argv.push_back(nullptr);
  const double start = nowMs();
  pid_t pid;
  if (posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environ) != 0) {
    fprintf(stderr, "cannot start %s\n", argv[0]);
    exit(1);
  }
  int status;
  rusage usage;
  wait4(pid, &status, 0, &usage);
  Outcome o;
  o.wallMs = nowMs() - start;
  o.cpuMs = (usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) * 1e3 +
            (usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e3;
  o.maxRssKb = usage.ru_maxrss;
  posix_spawn_file_actions_destroy(&actions);
  if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
    fprintf(stderr, "%s failed\n", argv[0]);
    exit(1);
  }
  if (FILE* f = fopen(outPath.c_str(), "r")) {
    char buf[4096];
    size_t n;
    while ((n = fread(buf, 1, sizeof buf, f)) > 0) o.out.append(buf, n);
    fclose(f);
  }
  return o;
}

// The run directory with the highest number below profileDir.
std::string newestRunDir(const std::string& profileDir) {
  long best = -1;
  std::string name;
  if (DIR* d = opendir(profileDir.c_str())) {
    while (dirent* e = readdir(d)) {
      const char* u = strrchr(e->d_name, '_');
      if (u == nullptr || strncmp(e->d_name, "app_0_", 6) != 0) continue;
      const long n = strtol(u + 1, nullptr, 10);
      if (n > best) {
        best = n;
        name = e->d_name;
      }
    }
    closedir(d);
  }
  return profileDir + "/" + name;
}

uint64_t traceBytes(const std::string& runDir) {
  uint64_t total = 0;
  if (DIR* d = opendir(runDir.c_str())) {
    while (dirent* e = readdir(d)) {
      if (strncmp(e->d_name, "thread", 6) != 0) continue;
      struct stat st;
      if (stat((runDir + "/" + e->d_name).c_str(), &st) == 0) total += static_cast<uint64_t>(st.st_size);
    }
    closedir(d);
  }
  return total;
}

double median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  return v.empty() ? 0 : v[v.size() / 2];
}

}  // namespace

int main(int argc, char** argv) {
  int runs = 21;
  int repeats = 3;
  uint64_t maxEvents = 100000000;
  for (int i = 1; i < argc; ++i) {
    if (strncmp(argv[i], "--runs=", 7) == 0) runs = std::max(1, atoi(argv[i] + 7));
    else if (strncmp(argv[i], "--max-events=", 13) == 0) maxEvents = strtoull(argv[i] + 13, nullptr, 10);
    else if (strncmp(argv[i], "--repeats=", 10) == 0) repeats = std::max(1, atoi(argv[i] + 10));
    else {
      fprintf(stderr, "usage: %s [--runs=N] [--max-events=N] [--repeats=N]\n", argv[0]);
      return 2;
    }
  }
  char scratch[] = "/tmp/prof-process-bench-XXXXXX";
  if (mkdtemp(scratch) == nullptr) return 1;

  // The simulation, traced and with empty hooks, alternating.
  std::vector<double> wall[2], cpu[2];
  long rss[2] = {0, 0};
  uint64_t bytes = 0;
  const std::string exe[2] = {PROF_BENCH_VENDEL_TRACED, PROF_BENCH_VENDEL_EMPTY};
  for (int r = 0; r < runs; ++r) {
    for (int k = 0; k < 2; ++k) {
      const Outcome o = run({exe[k]}, scratch);
      wall[k].push_back(o.wallMs);
      cpu[k].push_back(o.cpuMs);
      rss[k] = std::max(rss[k], o.maxRssKb);
    }
  }
  bytes = traceBytes(newestRunDir(PROF_BENCH_VENDEL_PROFILE_DIR));
  printf("%-28s %10s %10s %10s %12s\n", "vendel_csim (median of runs)", "wall ms", "cpu ms", "peak KiB", "trace bytes");
  printf("%-28s %10.2f %10.2f %10ld %12" PRIu64 "\n", "traced", median(wall[0]), median(cpu[0]), rss[0], bytes);
  printf("%-28s %10.2f %10.2f %10ld %12s\n", "empty hooks", median(wall[1]), median(cpu[1]), rss[1], "-");
  printf("%-28s %10.2f %10.2f\n", "ratio", median(wall[0]) / median(wall[1]), median(cpu[0]) / median(cpu[1]));

  // Long runs.
  printf("\n%-14s %12s %12s %14s %10s   (median of %d runs each)\n", "events", "ns/event", "loop s",
         "trace B/event", "peak KiB", repeats);
  for (uint64_t events = std::min<uint64_t>(1000000, maxEvents); events <= maxEvents; events *= 10) {
    std::vector<double> perEvent, loopS;
    uint64_t done = 0, b = 0;
    long peak = 0;
    for (int r = 0; r < repeats; ++r) {
      const Outcome o = run({PROF_BENCH_LONGRUN, std::to_string(events)}, scratch);
      uint64_t loopNs = 0;
      if (sscanf(o.out.c_str(), "events=%" SCNu64 " loop_ns=%" SCNu64, &done, &loopNs) != 2 || done == 0) {
        fprintf(stderr, "unexpected output of the long run: %s\n", o.out.c_str());
        return 1;
      }
      perEvent.push_back(static_cast<double>(loopNs) / done);
      loopS.push_back(loopNs / 1e9);
      b = traceBytes(newestRunDir(PROF_BENCH_LONGRUN_PROFILE_DIR));
      peak = std::max(peak, o.maxRssKb);
    }
    printf("%-14" PRIu64 " %12.2f %12.3f %14.4f %10ld\n", done, median(perEvent), median(loopS),
           static_cast<double>(b) / done, peak);
  }
  std::string cleanup = std::string("rm -rf '") + scratch + "'";
  return system(cleanup.c_str()) == 0 ? 0 : 1;
}

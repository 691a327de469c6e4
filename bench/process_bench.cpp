// Whole-process figures: the simulation traced against the same sources
// with empty hooks (alternating runs, medians of wall and CPU time, peak
// memory, trace bytes), and long traced runs of 10^6, 10^7 and 10^8 events
// for the cost and the compressed trace bytes per event and whether both
// stay flat with run length.
//
//   ./build/bench/prof_process_bench [--runs=N] [--max-events=N]
#include <dirent.h>
#include <sys/stat.h>

#include <algorithm>
#include <cinttypes>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "process_run.h"

namespace {

using benchrun::median;
using benchrun::newestRunDir;
using benchrun::Outcome;

// Runs args in dir; a failing program ends the benchmark.
Outcome run(const std::vector<std::string>& args, const std::string& dir) {
  Outcome o = benchrun::run(args, dir);
  if (o.exitCode != 0) {
    fprintf(stderr, "%s failed\n", args[0].c_str());
    exit(1);
  }
  return o;
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

// Running a benchmarked program as its own process: wall time, CPU time
// (user and system of every thread) and peak memory from wait4, standard
// output captured; and finding the run directory it left behind. Shared by
// the whole-process benchmarks.
#pragma once

#include <dirent.h>
#include <fcntl.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <time.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

extern char** environ;

namespace benchrun {

struct Outcome {
  double wallMs = 0;
  double cpuMs = 0;
  long maxRssKb = 0;
  int exitCode = -1;  // -1 when the process did not exit normally
  std::string out;
};

inline double nowMs() {
  timespec t;
  clock_gettime(CLOCK_MONOTONIC, &t);
  return t.tv_sec * 1e3 + t.tv_nsec / 1e6;
}

// Runs args in dir with standard output captured in dir/stdout.txt; ends
// the benchmark when the program cannot be started.
inline Outcome run(const std::vector<std::string>& args, const std::string& dir) {
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
  o.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  posix_spawn_file_actions_destroy(&actions);
  if (FILE* f = fopen(outPath.c_str(), "r")) {
    char buf[4096];
    size_t n;
    while ((n = fread(buf, 1, sizeof buf, f)) > 0) o.out.append(buf, n);
    fclose(f);
  }
  return o;
}

// The run directory "<uid>_<n>" with the highest n below profileDir
// (uid "app_0", the executable's); empty when there is none.
inline std::string newestRunDir(const std::string& profileDir) {
  long best = -1;
  std::string name;
  if (DIR* d = opendir(profileDir.c_str())) {
    while (dirent* e = readdir(d)) {
      if (strncmp(e->d_name, "app_0_", 6) != 0) continue;
      const long n = strtol(e->d_name + 6, nullptr, 10);
      if (n > best) {
        best = n;
        name = e->d_name;
      }
    }
    closedir(d);
  }
  return best < 0 ? std::string() : profileDir + "/" + name;
}

inline double median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  return v.empty() ? 0 : v[v.size() / 2];
}

}  // namespace benchrun

// Helpers shared by the trace-output unit tests: a scratch directory that
// cleans up after itself, whole-file reads, and running a function in a
// forked child to observe a fatal exit (status and exact standard error).
#pragma once

#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

namespace trace_test {

class ScratchDir {
 public:
  ScratchDir() {
    char pattern[] = "/tmp/prof_unit_XXXXXX";
    const char* made = mkdtemp(pattern);
    path_ = made != nullptr ? made : "";
  }
  ~ScratchDir() {
    std::error_code ignored;
    if (!path_.empty()) std::filesystem::remove_all(path_, ignored);
  }
  ScratchDir(const ScratchDir&) = delete;
  ScratchDir& operator=(const ScratchDir&) = delete;

  [[nodiscard]] std::string file(const std::string& name) const { return path_ + "/" + name; }

 private:
  std::string path_;
};

inline std::vector<uint8_t> readFile(const std::string& path) {
  std::vector<uint8_t> data;
  FILE* f = fopen(path.c_str(), "rb");
  if (f == nullptr) return data;
  int c;
  while ((c = fgetc(f)) != EOF) data.push_back(static_cast<uint8_t>(c));
  fclose(f);
  return data;
}

inline long fileSize(const std::string& path) {
  struct stat st {};
  return stat(path.c_str(), &st) == 0 ? static_cast<long>(st.st_size) : -1;
}

struct ChildOutcome {
  bool exited = false;  // ended through exit/_exit, not a signal
  int status = -1;      // exit status when exited
  std::string stderrText;
};

// Runs body in a forked child whose standard error is captured. A body that
// returns ends the child with status 0.
template <typename Body>
ChildOutcome runInChild(Body body) {
  ChildOutcome outcome;
  int fds[2];
  if (pipe(fds) != 0) return outcome;
  const pid_t pid = fork();
  if (pid == 0) {
    close(fds[0]);
    dup2(fds[1], STDERR_FILENO);
    close(fds[1]);
    body();
    _exit(0);
  }
  close(fds[1]);
  char chunk[512];
  ssize_t n;
  while ((n = read(fds[0], chunk, sizeof chunk)) > 0) outcome.stderrText.append(chunk, static_cast<size_t>(n));
  close(fds[0]);
  int wstatus = 0;
  if (pid > 0 && waitpid(pid, &wstatus, 0) == pid && WIFEXITED(wstatus)) {
    outcome.exited = true;
    outcome.status = WEXITSTATUS(wstatus);
  }
  return outcome;
}

// Deterministic filler that deflate cannot shrink much.
inline std::vector<uint8_t> noise(size_t n, uint64_t seed = 0x9E3779B97F4A7C15ull) {
  std::vector<uint8_t> out(n);
  uint64_t x = seed;
  for (auto& b : out) {
    x ^= x << 13;
    x ^= x >> 7;
    x ^= x << 17;
    b = static_cast<uint8_t>(x);
  }
  return out;
}

}  // namespace trace_test

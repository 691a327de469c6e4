// Process-level test helpers (see process_support.h).
#include "process_support.h"

#include <dirent.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "tracereader/tracereader.h"

namespace proctest {

std::string programPath(const std::string& name) { return std::string(PROF_TEST_BIN_DIR) + "/" + name; }

std::string profileDir(const std::string& name) { return std::string(PROF_TEST_PROFILES_DIR) + "/" + name; }

namespace {

std::string drain(int fd) {
  std::string text;
  char buffer[4096];
  ssize_t n;
  while ((n = read(fd, buffer, sizeof buffer)) > 0) text.append(buffer, static_cast<size_t>(n));
  return text;
}

}  // namespace

RunResult run(const std::string& program, const std::vector<std::string>& args, const std::string& cwd,
              const std::function<void()>& childSetup) {
  if (!cwd.empty()) std::filesystem::create_directories(cwd);
  // Output goes to files, not pipes, so a chatty child never blocks.
  char outName[] = "/tmp/proctest-out-XXXXXX";
  char errName[] = "/tmp/proctest-err-XXXXXX";
  const int outFd = mkstemp(outName);
  const int errFd = mkstemp(errName);
  RunResult result;
  const pid_t pid = fork();
  if (pid == 0) {
    dup2(outFd, 1);
    dup2(errFd, 2);
    if (!cwd.empty() && chdir(cwd.c_str()) != 0) _exit(126);
    if (childSetup) childSetup();
    std::vector<char*> argv;
    argv.push_back(const_cast<char*>(program.c_str()));
    for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    execv(program.c_str(), argv.data());
    _exit(127);
  }
  int status = 0;
  waitpid(pid, &status, 0);
  if (WIFEXITED(status)) result.exitCode = WEXITSTATUS(status);
  if (WIFSIGNALED(status)) result.signal = WTERMSIG(status);
  lseek(outFd, 0, SEEK_SET);
  lseek(errFd, 0, SEEK_SET);
  result.out = drain(outFd);
  result.err = drain(errFd);
  close(outFd);
  close(errFd);
  unlink(outName);
  unlink(errName);
  return result;
}

void removeAll(const std::string& path) {
  std::error_code ec;
  std::filesystem::remove_all(path, ec);
}

std::string scratchDir(const std::string& name) {
  const std::string dir = std::string(PROF_TEST_PROFILES_DIR) + "/scratch/" + name;
  removeAll(dir);
  std::filesystem::create_directories(dir);
  return dir;
}

std::vector<std::string> runDirs(const std::string& profile) {
  std::vector<std::pair<unsigned long, std::string>> found;
  if (DIR* d = opendir(profile.c_str())) {
    while (const dirent* e = readdir(d)) {
      const std::string name = e->d_name;
      if (name.rfind("app_0_", 0) != 0) continue;
      found.emplace_back(std::stoul(name.substr(6)), profile + "/" + name);
    }
    closedir(d);
  }
  std::sort(found.begin(), found.end());
  std::vector<std::string> dirs;
  for (auto& f : found) dirs.push_back(f.second);
  return dirs;
}

std::string latestRunDir(const std::string& profile) {
  const std::vector<std::string> dirs = runDirs(profile);
  EXPECT_FALSE(dirs.empty()) << "no run directory under " << profile;
  return dirs.empty() ? std::string() : dirs.back();
}

std::string readFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

bool exists(const std::string& path) { return access(path.c_str(), F_OK) == 0; }

Trace readTrace(const std::string& runDir, uint32_t thread) {
  char name[64];
  snprintf(name, sizeof name, "/thread%04u-trace.txt", thread);
  const tracereader::InflatedTrace inflated = tracereader::readTraceFile(runDir + name);
  EXPECT_TRUE(inflated.readable) << runDir + name;
  return Trace{inflated.bytes, inflated.complete};
}

void appendUleb(std::vector<uint8_t>& out, uint64_t value) {
  while (value >= 128) {
    out.push_back(static_cast<uint8_t>(value | 0x80));
    value >>= 7;
  }
  out.push_back(static_cast<uint8_t>(value));
}

void appendSleb(std::vector<uint8_t>& out, int64_t value) {
  bool more = true;
  while (more) {
    uint8_t byte = value & 0x7F;
    value >>= 7;
    more = !((value == 0 && (byte & 0x40) == 0) || (value == -1 && (byte & 0x40) != 0));
    out.push_back(more ? (byte | 0x80) : byte);
  }
}

std::vector<uint8_t> uleb(std::initializer_list<uint64_t> values) {
  std::vector<uint8_t> out;
  for (uint64_t v : values) appendUleb(out, v);
  return out;
}

}  // namespace proctest

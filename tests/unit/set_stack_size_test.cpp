// Tests of the start-up stack-limit raise. Every case runs in a forked child
// that first sets the limits it needs, so the test process keeps its own;
// the child's standard error and resulting limits come back through pipes.
// Raising a hard limit needs privileges: such cases are skipped without.
#include "hls/set_stack_size.h"

#include <gtest/gtest.h>
#include <linux/audit.h>
#include <linux/filter.h>
#include <linux/seccomp.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstddef>
#include <iostream>
#include <string>

namespace {

constexpr rlim_t MiB = 1024 * 1024;
constexpr rlim_t GiB = 1024 * MiB;
constexpr int SetupFailed = 77;

struct ChildResult {
  bool Skipped;
  std::string Stderr;
  struct rlimit After;  // limits after the call, as the child saw them
};

std::string ReadAll(int Fd) {
  std::string Text;
  char Buffer[512];
  for (ssize_t N; (N = read(Fd, Buffer, sizeof Buffer)) > 0;) Text.append(Buffer, N);
  return Text;
}

// Makes the rlimit syscalls that pass a pointer in argument ArgIndex (2: the
// new limits, 3: the old ones) fail with EPERM. Returns false when the
// kernel or container does not allow a filter.
bool FailRlimitCalls(unsigned ArgIndex, unsigned LegacyNr) {
  const unsigned Low = offsetof(seccomp_data, args) + 8 * ArgIndex;
  sock_filter Filter[] = {
      BPF_STMT(BPF_LD | BPF_W | BPF_ABS, offsetof(seccomp_data, arch)),
      BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, AUDIT_ARCH_X86_64, 0, 7),
      BPF_STMT(BPF_LD | BPF_W | BPF_ABS, offsetof(seccomp_data, nr)),
      BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, LegacyNr, 6, 0),
      BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, __NR_prlimit64, 0, 4),
      BPF_STMT(BPF_LD | BPF_W | BPF_ABS, Low),
      BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, 0, 0, 3),
      BPF_STMT(BPF_LD | BPF_W | BPF_ABS, Low + 4),
      BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, 0, 0, 1),
      BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_ALLOW),
      BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_ERRNO | EPERM),
  };
  sock_fprog Program = {static_cast<unsigned short>(sizeof Filter / sizeof Filter[0]), Filter};
  return prctl(PR_SET_NO_NEW_PRIVS, 1, 0, 0, 0) == 0 &&
         prctl(PR_SET_SECCOMP, SECCOMP_MODE_FILTER, &Program) == 0;
}

enum class Fail { None, Get, Set };

ChildResult RunInChild(rlim_t Soft, rlim_t Hard, Fail Failing = Fail::None) {
  int Err[2], Limits[2];
  if (pipe(Err) != 0 || pipe(Limits) != 0) return {true, "pipe failed", {}};
  const pid_t Child = fork();
  if (Child == 0) {
    close(Err[0]);
    close(Limits[0]);
    // Lower the hard limit last so that a finite hard limit is reachable
    // from any start.
    const struct rlimit Wanted = {Soft, Hard};
    const struct rlimit Widest = {RLIM_INFINITY, RLIM_INFINITY};
    if (Hard == RLIM_INFINITY && setrlimit(RLIMIT_STACK, &Widest) != 0) _exit(SetupFailed);
    if (setrlimit(RLIMIT_STACK, &Wanted) != 0) _exit(SetupFailed);
    if (Failing == Fail::Set && !FailRlimitCalls(2, __NR_setrlimit)) _exit(SetupFailed);
    if (Failing == Fail::Get && !FailRlimitCalls(3, __NR_getrlimit)) _exit(SetupFailed);
    if (dup2(Err[1], STDERR_FILENO) < 0) _exit(SetupFailed);
    nuqSetMaxStackSize();
    struct rlimit After = {0, 0};
    if (Failing != Fail::Get) getrlimit(RLIMIT_STACK, &After);
    _exit(write(Limits[1], &After, sizeof After) == sizeof After ? 0 : 1);
  }
  close(Err[1]);
  close(Limits[1]);
  ChildResult Result{false, ReadAll(Err[0]), {}};
  const std::string Raw = ReadAll(Limits[0]);
  close(Err[0]);
  close(Limits[0]);
  int Status = 0;
  if (Child < 0 || waitpid(Child, &Status, 0) != Child || !WIFEXITED(Status))
    return {false, "child did not exit", {}};
  if (WEXITSTATUS(Status) == SetupFailed) Result.Skipped = true;
  if (Raw.size() == sizeof Result.After) Raw.copy(reinterpret_cast<char*>(&Result.After), Raw.size());
  return Result;
}

TEST(SetMaxStackSize, SoftLimitBecomesOneGiBOrTheLowerHardLimit) {
  const std::string Warning =
      "tracing:0:0: warning: Cannot increase the maximum stack size to 1073741824 bytes. Setting "
      "stack size limit to 536870912 instead.\nConsult your operating system manual on how to "
      "increase the hard limit of the maximum stack size (ulimit).\n";
  struct Case {
    rlim_t Soft, Hard, ExpectedSoft;
    std::string ExpectedStderr;
  } const Cases[] = {
      {8 * MiB, RLIM_INFINITY, GiB, ""},
      {RLIM_INFINITY, RLIM_INFINITY, GiB, ""},  // an unlimited soft limit is lowered
      {8 * MiB, GiB, GiB, ""},                  // exactly 1 GiB is not below the target
      {8 * MiB, 512 * MiB, 512 * MiB, Warning},
  };
  for (const Case& C : Cases) {
    SCOPED_TRACE("soft " + std::to_string(C.Soft) + ", hard " + std::to_string(C.Hard));
    const ChildResult R = RunInChild(C.Soft, C.Hard);
    if (R.Skipped) {
      std::cout << "cannot set these limits without privileges; case skipped\n";
      continue;
    }
    EXPECT_EQ(R.Stderr, C.ExpectedStderr);
    EXPECT_EQ(R.After.rlim_cur, C.ExpectedSoft);
    EXPECT_EQ(R.After.rlim_max, C.Hard);
  }
}

TEST(SetMaxStackSize, RefusedLimitCallsWarnAndChangeNothing) {
  const ChildResult Set = RunInChild(8 * MiB, RLIM_INFINITY, Fail::Set);
  if (Set.Skipped) GTEST_SKIP() << "no seccomp filter or limits not settable here";
  EXPECT_EQ(Set.Stderr,
            "tracing:0:0: warning: setrlimit failed, using existing stack limit of 8388608 "
            "bytes.\n");
  EXPECT_EQ(Set.After.rlim_cur, 8 * MiB);
  EXPECT_EQ(Set.After.rlim_max, RLIM_INFINITY);

  const ChildResult Get = RunInChild(8 * MiB, RLIM_INFINITY, Fail::Get);
  ASSERT_FALSE(Get.Skipped);
  EXPECT_EQ(Get.Stderr, "tracing:0:0: warning: getrlimit failed, not increasing stack size.\n");
}

}  // namespace

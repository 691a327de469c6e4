// Signal wrappers called the way instrumented code calls them. argv[1]
// names the scenario. Handlers are instrumented too: what their hooks would
// record shows whether the trampoline suspended tracing around them.
#include <signal.h>

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>

#include "init.h"
#include "instrumented.h"

using instrumented::addressOf;
using instrumented::bytes;

int gFlag;  // global 1

namespace {

volatile sig_atomic_t gRuns = 0;
volatile sig_atomic_t gSuspendedInHandler = -1;

void h(int) {}
void h2(int) {}
void f(int, siginfo_t*, void*) {}

// Every hook an instrumented handler calls; recorded only if not suspended.
void instrumentedBody(uint64_t self, uint32_t selfId, uint64_t value) {
  uint32_t frameId;
  __PROF_FNProcessFunctionStart(self, 0, &frameId);
  gSuspendedInHandler = __PROF_is_trace_suspended() != 0 ? 1 : 0;
  __PROF_LSVariable(bytes(&gFlag));
  __PROF_TRPrintU64(value);
  __PROF_FNProcessFunctionEntry(1, 0, selfId);
  __PROF_FNProcessFunctionExit();
  __PROF_UpdateRetBBCount();
  gRuns = gRuns + 1;
}

void hooked(int) { instrumentedBody(addressOf(&hooked), 202, 0xAB); }
void hookedInfo(int signum, siginfo_t* info, void*) {
  if (info != nullptr && info->si_signo == signum) instrumentedBody(addressOf(&hookedInfo), 203, 0xAC);
}
// Handlers that run unsuspended keep to hooks that allocate nothing: a new
// frame would be allocated inside the signal handler.
void tracedBody(uint64_t value) {
  gSuspendedInHandler = __PROF_is_trace_suspended() != 0 ? 1 : 0;
  __PROF_LSVariable(bytes(&gFlag));
  __PROF_TRPrintU64(value);
  gRuns = gRuns + 1;
}

void rtHandler(int) { tracedBody(0x63); }
void rtInfoHandler(int, siginfo_t*, void*) { tracedBody(0x64); }

const char* nameOf(const void* handler) {
  if (handler == reinterpret_cast<void*>(SIG_DFL)) return "SIG_DFL";
  if (handler == reinterpret_cast<void*>(SIG_IGN)) return "SIG_IGN";
  if (handler == reinterpret_cast<void*>(&h)) return "h";
  if (handler == reinterpret_cast<void*>(&h2)) return "h2";
  if (handler == reinterpret_cast<void*>(&f)) return "f";
  if (handler == reinterpret_cast<void*>(&rtHandler)) return "rtHandler";
  if (handler == reinterpret_cast<void*>(&rtInfoHandler)) return "rtInfoHandler";
  return "other";
}

const char* nameOf(const struct sigaction& action) {
  return (action.sa_flags & SA_SIGINFO) != 0 ? nameOf(reinterpret_cast<void*>(action.sa_sigaction))
                                             : nameOf(reinterpret_cast<void*>(action.sa_handler));
}

struct sigaction infoAction(void (*handler)(int, siginfo_t*, void*)) {
  struct sigaction action {};
  sigemptyset(&action.sa_mask);
  action.sa_flags = SA_SIGINFO;
  action.sa_sigaction = handler;
  return action;
}

// raise() made from instrumented code: bracketed by the call hooks.
void instrumentedRaise(int signum) {
  __PROF_FNProcessFunctionEntry(0, addressOf(&raise), 200);
  raise(signum);
  __PROF_FNProcessFunctionExit();
}

void previousHandlers() {
  printf("signal h: %s\n", nameOf(reinterpret_cast<void*>(__PROF_Signal(SIGINT, h))));
  printf("signal h2: %s\n", nameOf(reinterpret_cast<void*>(__PROF_Signal(SIGINT, h2))));
  printf("signal SIG_DFL: %s\n", nameOf(reinterpret_cast<void*>(__PROF_Signal(SIGINT, SIG_DFL))));
  struct sigaction action = infoAction(f);
  struct sigaction old {};
  __PROF_Sigaction(SIGINT, &action, &old);
  printf("sigaction f: %s\n", nameOf(old));
  printf("signal h after f: %s\n", nameOf(reinterpret_cast<void*>(__PROF_Signal(SIGINT, h))));
  __PROF_Sigaction(SIGINT, nullptr, &old);
  printf("query after h: %s\n", nameOf(old));
  printf("sysv h2: %s\n", nameOf(reinterpret_cast<void*>(__PROF___sysv_Signal(SIGINT, h2))));

  // A default or ignore disposition in the three-argument field is passed
  // on as it is: the signal is really ignored, and no trampoline reports f.
  action = infoAction(f);
  __PROF_Sigaction(SIGUSR2, &action, nullptr);
  action = infoAction(nullptr);
  action.sa_handler = SIG_IGN;  // shares its storage with sa_sigaction
  __PROF_Sigaction(SIGUSR2, &action, &old);
  printf("ignore after f: %s\n", nameOf(old));
  raise(SIGUSR2);
  __PROF_Sigaction(SIGUSR2, nullptr, &old);
  printf("query ignored: %s\n", nameOf(old));

  // A handler installed outside the wrappers is reported as it is, not
  // replaced by what the wrappers registered before.
  __PROF_Signal(SIGTERM, h);
  signal(SIGTERM, h2);
  __PROF_Sigaction(SIGTERM, nullptr, &old);
  printf("outside: %s\n", nameOf(old));
  signal(SIGTERM, SIG_DFL);
}

void suspendedHandlers() {
  __PROF_Signal(SIGUSR1, hooked);
  struct sigaction action = infoAction(hookedInfo);
  __PROF_Sigaction(SIGUSR2, &action, nullptr);
  void* before = __PROF_Malloc(8);
  instrumented::report("before", before);
  instrumentedRaise(SIGUSR1);
  printf("handler suspended %d\n", static_cast<int>(gSuspendedInHandler));
  gSuspendedInHandler = -1;
  instrumentedRaise(SIGUSR2);
  printf("info handler suspended %d\n", static_cast<int>(gSuspendedInHandler));
  void* after = __PROF_Malloc(8);  // the next id: the handlers took none
  instrumented::report("after", after);
  __PROF_TRPrintU64(static_cast<U64>(gRuns));  // tracing runs again
  __PROF_Free(before);
  __PROF_Free(after);
}

void realtimeMaximum() {
  printf("signal rtmax: %s\n", nameOf(reinterpret_cast<void*>(__PROF_Signal(SIGRTMAX, rtHandler))));
  instrumentedRaise(SIGRTMAX);
  printf("handler suspended %d\n", static_cast<int>(gSuspendedInHandler));
  struct sigaction old {};
  __PROF_Sigaction(SIGRTMAX, nullptr, &old);
  printf("query rtmax: %s\n", nameOf(old));
  struct sigaction action = infoAction(rtInfoHandler);
  __PROF_Sigaction(SIGRTMAX, &action, &old);
  printf("sigaction rtmax: %s\n", nameOf(old));
  instrumentedRaise(SIGRTMAX);
  __PROF_Sigaction(SIGRTMAX, nullptr, &old);
  printf("query rtmax: %s\n", nameOf(old));
}

}  // namespace

int main(int argc, char** argv) {
  instrumented::startMain(addressOf(&main));
  const std::string scenario = argc > 1 ? argv[1] : "";
  if (scenario == "previous") previousHandlers();
  if (scenario == "suspended") suspendedHandlers();
  if (scenario == "rtmax") realtimeMaximum();
  printf("runs %d\n", static_cast<int>(gRuns));
  __PROF_UpdateRetBBCount();
  return 0;
}

extern "C" void __PROF_FNsInitializeFuncStruct(void) {
  __PROF_FNInitializeFuncStruct(200, addressOf(&main), "app_0");
  __PROF_FNInitializeFuncStruct(201, addressOf(&raise), "app_0");
  __PROF_FNInitializeFuncStruct(202, addressOf(&hooked), "app_0");
  __PROF_FNInitializeFuncStruct(203, addressOf(&hookedInfo), "app_0");
  __PROF_FNInitializeFuncStruct(204, addressOf(&rtHandler), "app_0");
  __PROF_FNInitializeFuncStruct(205, addressOf(&rtInfoHandler), "app_0");
}
extern "C" void __PROF_LSInitGlobalInfos(FILE* mapping, const char* binary) {
  __PROF_LSInitGlobalInfo(1, addressOf(&gFlag), sizeof gFlag, mapping, binary);
}
extern "C" void __PROF_LSInitTLSs(FILE*, const char*) {}

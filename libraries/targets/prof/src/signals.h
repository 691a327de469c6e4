// The user's signal handlers, kept in two lock-free tables (one-argument
// and three-argument handlers) so that the trampolines installed with libc
// can find them inside a signal handler.
#pragma once

#include <signal.h>

// 0 on success, -1 for a signal number outside the table.
int __PROF_SignalRegister(int Signum, void* Handler, void** OldHandler);
int __PROF_SigactionRegister(int Signum, void* Handler, void** OldHandler);
// The entry; null before any registration; (void*)-1 outside the table.
void* __PROF_SignalGet(int Signum);
void* __PROF_SigactionGet(int Signum);

extern "C" void __PROF_signal_handler_wrapper(int signum);
extern "C" void __PROF_sigaction_handler_wrapper(int signum, siginfo_t* info, void* ucontext);

// Start-up of the runtime: once per process (run directory, manifest),
// once per binary (registration) and once per thread (trace file).
#pragma once

#include "prof/proflibAPI.h"

// Per-thread start-up: opens the thread's trace and registers every
// binary's thread-local variables for it. Called once per thread profile.
void __PROF_PerThreadInit(void);
// Opens the calling thread's trace file and writes its header.
void __PROF_InitTrace(void);
// Queues the calling thread, whose tracing start hook ran before start-up,
// so that start-up lifts its suspension. key is its suspension counter.
void __PROF_addThreadToResumeList(void* key);
// Writes the quoted command line into "commandline" of the run directory.
void __PROF_writeCommandline(int argc, char** argv);

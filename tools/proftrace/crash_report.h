// The crash record of a run ended by a signal, for people and for JSON:
// the signal, the receiving thread, the faulting address and what it falls
// into, and every thread's stack at the crash, with names from the run
// directory. Shared by check, info and crash.
#pragma once

#include <cstdio>
#include <string>

#include "trace_scan.h"
#include "tracereader/crash_file.h"
#include "tracereader/run_directory.h"

namespace proftrace {

// "SIGSEGV (signal 11, code 1 SEGV_MAPERR) in thread 3".
std::string crashSummary(const tracereader::CrashRecord& crash);

// A complete stream whose only fault is a last value cut short: what a
// trace whose last record the crash cut may look like.
bool cutOnlyByTheCrash(const TraceScan& scan);

// A stack at the crash, innermost first: "store [201] <- main [200]".
std::string stackText(const tracereader::CrashThread& t, const tracereader::NameIndex& names);

// The block "Crash: ..." with one indented line per fact and per thread.
void printCrashText(std::FILE* out, const tracereader::RunDirectory& run, const tracereader::NameIndex& names,
                    const tracereader::CrashRecord& crash);
// The crash record as one JSON object (docs/proftrace.md, "crash").
void printCrashJson(std::FILE* out, const tracereader::RunDirectory& run, const tracereader::NameIndex& names,
                    const tracereader::CrashRecord& crash);

}  // namespace proftrace

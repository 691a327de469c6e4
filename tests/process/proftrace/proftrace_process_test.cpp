// proftrace as a user runs it: on the run directory of one simulation run,
// then on a copy whose trace was cut as a killed process leaves it, on a
// folder that is not a run directory and with a bad command line; and its
// labels and counts on a run written under the decodable convention; and
// runs ended by a signal, with what their crash file says of each trace.
#include <gtest/gtest.h>
#include <zlib.h>

#include <cstdio>
#include <string>

#include "process_support.h"
#include "strict_json.h"

using namespace proctest;

namespace {

RunResult proftrace(const std::vector<std::string>& args) { return run(PROFTRACE_PATH, args); }

void writeText(const std::string& path, const std::string& text) {
  FILE* f = fopen(path.c_str(), "wb");
  ASSERT_NE(f, nullptr);
  fwrite(text.data(), 1, text.size(), f);
  fclose(f);
}

void writeTrace(const std::string& path, const std::vector<uint8_t>& plain) {
  std::vector<uint8_t> z(compressBound(plain.size()));
  uLongf size = z.size();
  ASSERT_EQ(compress2(z.data(), &size, plain.data(), plain.size(), 4), Z_OK);
  writeText(path, std::string(z.begin(), z.begin() + static_cast<ptrdiff_t>(size)));
}

// A run directory as a plugin-built program leaves it, with these function
// names (static id = linked id = 200 + index) and name lines.
std::string namedRun(const std::string& name, const std::vector<std::string>& functions, const std::string& more = "") {
  const std::string dir = scratchDir(name);
  writeText(dir + "/commandline", "\"./design\"");
  writeText(dir + "/workingDirectory", "/w");
  writeText(dir + "/binaries", "app_0\n");
  writeText(dir + "/lookupOrder", "app_0\n");
  std::string mapping, lines;
  for (size_t i = 0; i < functions.size(); ++i) {
    mapping += std::to_string(200 + i) + " app_0 " + std::to_string(200 + i) + "\n";
    lines += "function\tapp_0\t" + std::to_string(200 + i) + "\t" + functions[i] + "\n";
  }
  writeText(dir + "/functionMapping", mapping);
  writeText(dir + "/globalVariableMapping", lines + more);
  return dir;
}

void copyPrefix(const std::string& from, const std::string& to, size_t bytes) {
  const std::string data = readFile(from);
  FILE* f = fopen(to.c_str(), "wb");
  ASSERT_NE(f, nullptr);
  fwrite(data.data(), 1, std::min(bytes, data.size()), f);
  fclose(f);
}

TEST(Proftrace, ReadsTheSimulationsRunDirectory) {
  const std::string profile = profileDir("vendel_for_proftrace");
  removeAll(profile);
  const RunResult sim = run(programPath("vendel_for_proftrace"), {"--seed", "a \"b\""}, scratchDir("proftrace_sim"));
  ASSERT_EQ(sim.exitCode, 0) << sim.err;
  const std::string runDir = latestRunDir(profile);
  const std::string trace = runDir + "/thread0000-trace.txt";

  const RunResult info = proftrace({"info", runDir});
  EXPECT_EQ(info.exitCode, 0) << info.err;
  EXPECT_NE(info.out.find("Program:            vendel_for_proftrace"), std::string::npos) << info.out;
  EXPECT_NE(info.out.find("  argument 2:        a \"b\""), std::string::npos) << info.out;
  EXPECT_NE(info.out.find("  205        app_0      205"), std::string::npos) << info.out;
  EXPECT_NE(info.out.find("thread 0: thread0000-trace.txt"), std::string::npos) << info.out;
  EXPECT_NE(info.out.find("complete, accesses on, allocations on, 8752 values"), std::string::npos) << info.out;

  const RunResult check = proftrace({"check", runDir});
  EXPECT_EQ(check.exitCode, 0) << check.out;
  EXPECT_NE(check.out.find("thread0000-trace.txt: ok (8752 values, 8865 bytes)"), std::string::npos) << check.out;

  // The header, then main's entry (0, 200, caller 0) and the design's exits.
  const RunResult dump = proftrace({"dump", trace});
  EXPECT_EQ(dump.exitCode, 0) << dump.err;
  EXPECT_NE(dump.out.find("# header: version 5, memory accesses on, allocations on\n"), std::string::npos);
  EXPECT_NE(dump.out.find("         6                  200                  200\n"), std::string::npos) << dump.out;
  EXPECT_NE(dump.out.find("# end: complete stream, 8747 values, offset 8865"), std::string::npos);
  const RunResult json = proftrace({"dump", "--json", trace});
  EXPECT_EQ(json.exitCode, 0);
  EXPECT_EQ(strictjson::check(json.out), "");
  EXPECT_EQ(json.out.rfind("{\"trace\":", 0), 0u);
  EXPECT_NE(json.out.find("\"end\":{\"stream\":\"complete\",\"offset\":8865,\"values\":8747}}"), std::string::npos);

  // A hand-instrumented run has no name lines: labels are refused, not
  // guessed, and every command that needs them says why in one line.
  const RunResult labels = proftrace({"dump", "--labels", trace});
  EXPECT_EQ(labels.exitCode, 1);
  EXPECT_NE(labels.err.find("no function name lines"), std::string::npos) << labels.err;
  const RunResult stats = proftrace({"stats", runDir});
  EXPECT_EQ(stats.exitCode, 1);
  EXPECT_EQ(stats.out.rfind("no labels: the run directory has no function name lines, as a hand-instrumented", 0), 0u)
      << stats.out;
  EXPECT_EQ(stats.out.find('\n'), stats.out.size() - 1) << stats.out;
  EXPECT_NE(info.out.find("\nLabels:             none: the run directory has no function name lines"), std::string::npos);

  // A trace cut to its first bytes, as a killed process leaves it.
  const std::string damaged = scratchDir("proftrace_damaged");
  copyPrefix(trace, damaged + "/thread0000-trace.txt", 100);
  copyPrefix(runDir + "/functionMapping", damaged + "/functionMapping", 1000);
  const RunResult bad = proftrace({"check", damaged, trace});
  EXPECT_EQ(bad.exitCode, 1);
  EXPECT_NE(bad.out.find("thread0000-trace.txt: BAD: truncated"), std::string::npos) << bad.out;
  EXPECT_NE(bad.out.find(trace + ": ok"), std::string::npos) << bad.out;
  EXPECT_EQ(proftrace({"info", damaged}).exitCode, 1);

  // The runtime made the run directory, but no thread ran instrumented code.
  const std::string idle = scratchDir("proftrace_idle");
  copyPrefix(runDir + "/commandline", idle + "/commandline", 1000);
  const RunResult noTraces = proftrace({"check", idle});
  EXPECT_EQ(noTraces.exitCode, 1);
  EXPECT_NE(noTraces.out.find("BAD: no thread traces: no thread of this process ran instrumented code"),
            std::string::npos)
      << noTraces.out;

  const RunResult notRun = proftrace({"info", scratchDir("proftrace_empty")});
  EXPECT_EQ(notRun.exitCode, 1);
  EXPECT_NE(notRun.err.find("not a run directory"), std::string::npos);
  EXPECT_EQ(proftrace({"dump"}).exitCode, 2);
  EXPECT_EQ(proftrace({"frobnicate"}).exitCode, 2);
  const RunResult help = proftrace({"stats", "--help"});
  EXPECT_EQ(help.exitCode, 0);
  EXPECT_EQ(help.out.rfind("Usage: proftrace stats", 0), 0u);
}

// A run as a plugin-built program leaves it: name lines, and a trace whose
// malloc and memcpy calls are bracketed by their entries and exits; memmove
// was registered at memcpy's address.
TEST(Proftrace, LabelsAndCountsADecodableRun) {
  const std::string dir = namedRun("proftrace_decodable", {"main", "malloc", "memcpy"},
                                   "function\tapp_0\t203\tmemmove\nglobal\tapp_0\t1\tgTable\t64\tdesign.c\t3\n");
  writeText(dir + "/functionMapping", "200 app_0 200\n201 app_0 201\n202 app_0 202\n203 app_0 202\n");
  writeTrace(dir + "/thread0000-trace.txt", uleb({24, 5, 26, 1, 1, 0, 200, 0,     // main
                                                  0, 201, 200, 6, 1, 32, 4096, 2,  // malloc: allocation
                                                  6, 1, 4,                         // heap access
                                                  0, 202, 200, 6, 1, 0, 16, 2,     // memcpy: access with size
                                                  4, 1, 8, 10, 32, 1, 2}));

  const RunResult labels = proftrace({"dump", "--labels", dir + "/thread0000-trace.txt"});
  EXPECT_EQ(labels.exitCode, 0) << labels.err;
  EXPECT_NE(labels.out.find("heap-alloc block=1 size=32 address=4096"), std::string::npos) << labels.out;
  EXPECT_NE(labels.out.find("heap-access block=1 offset=0 blocksize=16"), std::string::npos) << labels.out;
  EXPECT_NE(labels.out.find("global-access variable=1 name=\"gTable\" offset=8"), std::string::npos) << labels.out;
  // In JSON the record's place and the offset inside the variable have
  // keys of their own.
  const RunResult json = proftrace({"dump", "--labels", "--json", dir + "/thread0000-trace.txt"});
  EXPECT_EQ(json.exitCode, 0) << json.err;
  EXPECT_EQ(strictjson::check(json.out), "") << json.out;
  EXPECT_NE(json.out.find("{\"offset\":33,\"depth\":1,\"kind\":\"global-access\",\"variable\":1,\"name\":\"gTable\","
                          "\"accessOffset\":8}"),
            std::string::npos)
      << json.out;
  EXPECT_NE(json.out.find("\"frames\":\"closed\",\"openFrames\":0}}"), std::string::npos) << json.out;

  const RunResult stats = proftrace({"stats", dir});
  EXPECT_EQ(stats.exitCode, 0) << stats.err;
  EXPECT_NE(stats.out.find("       entries        exits  function\n"
                           "             1            1  main [200]\n"
                           "             1            1  malloc [201]\n"
                           "             1            1  memcpy = memmove [202]\n"
                           "  (names joined by '=' were registered at one address"),
            std::string::npos)
      << stats.out;
  EXPECT_NE(stats.out.find("heap: 1 allocations (32 bytes), 0 reallocations (to 0 bytes), 1 frees (32 bytes)"),
            std::string::npos);
  EXPECT_NE(stats.out.find("accesses: 0 local, 1 global, 0 outer-frame, 2 heap"), std::string::npos);
}

// Frames open at the end of a complete trace: normal under exit, and in a
// thread still running when another thread ended the process (by exit, or
// by returning from main); a finding when nothing ended the process.
TEST(Proftrace, TellsFramesOpenAtExitFromFramesLeftOpen) {
  const std::vector<uint8_t> header = uleb({24, 5, 26, 1, 1});
  const auto trace = [&](std::initializer_list<uint64_t> values) {
    std::vector<uint8_t> t = header;
    for (uint64_t v : values) appendUleb(t, v);
    return t;
  };
  const std::vector<std::string> functions = {"main", "check", "exit", "worker"};

  const std::string exited = namedRun("proftrace_exited", functions);
  writeTrace(exited + "/thread0000-trace.txt", trace({0, 200, 0, 0, 201, 200, 0, 202, 201}));
  writeTrace(exited + "/thread0001-trace.txt", trace({0, 203, 0}));
  const RunResult check = proftrace({"check", exited});
  EXPECT_EQ(check.exitCode, 0) << check.out;
  EXPECT_NE(check.out.find("thread0000-trace.txt: ok (14 values, 19 bytes; ended the process in exit with 3 frames open)"),
            std::string::npos)
      << check.out;
  EXPECT_NE(check.out.find("thread0001-trace.txt: ok (8 values, 9 bytes; still running in worker (1 frame open) when "
                           "thread 0 ended the process)"),
            std::string::npos)
      << check.out;
  const RunResult stats = proftrace({"stats", exited});
  EXPECT_EQ(stats.exitCode, 0) << stats.out << stats.err;
  EXPECT_NE(stats.out.find("  end: ended the process in exit with 3 frames open\n"), std::string::npos) << stats.out;
  const RunResult json = proftrace({"dump", "--labels", "--json", exited + "/thread0001-trace.txt"});
  EXPECT_EQ(json.exitCode, 0) << json.err;
  EXPECT_EQ(strictjson::check(json.out), "") << json.out;
  EXPECT_NE(json.out.find("\"frames\":\"running-at-exit\",\"openFrames\":1,\"innermost\":\"worker\",\"endedBy\":0}"),
            std::string::npos)
      << json.out;

  const std::string returned = namedRun("proftrace_returned", functions);
  writeTrace(returned + "/thread0000-trace.txt", trace({0, 200, 0, 2}));
  writeTrace(returned + "/thread0001-trace.txt", trace({0, 203, 0}));
  EXPECT_EQ(proftrace({"check", returned}).exitCode, 0);

  // main's frame stays open though nothing ended the process.
  const std::string lost = namedRun("proftrace_lost", functions);
  writeTrace(lost + "/thread0000-trace.txt", trace({0, 200, 0, 0, 201, 200, 2}));
  const RunResult bad = proftrace({"check", lost});
  EXPECT_EQ(bad.exitCode, 1);
  EXPECT_NE(bad.out.find("BAD: 1 frame left open (innermost main) though no thread ended the process"), std::string::npos)
      << bad.out;
  const RunResult badStats = proftrace({"stats", lost});
  EXPECT_EQ(badStats.exitCode, 1);
  EXPECT_NE(badStats.out.find("  NOTE: 1 frame left open (innermost main)"), std::string::npos) << badStats.out;
  EXPECT_EQ(proftrace({"dump", "--labels", lost + "/thread0000-trace.txt"}).exitCode, 1);
}

// A run ended by a signal: thread 1 received it, thread 0 waited in
// pthread_join, thread 2's last record was cut by the crash, thread 3's
// trace could not be finished. The crash file explains every trace.
TEST(Proftrace, ReadsARunEndedByASignalAsItsCrashFileSays) {
  const std::vector<uint8_t> header = uleb({24, 5, 26, 1, 1});
  const auto trace = [&](std::initializer_list<uint64_t> values) {
    std::vector<uint8_t> t = header;
    for (uint64_t v : values) appendUleb(t, v);
    return t;
  };
  const std::string crashText =
      "crash: 1\nsignal: 11 SIGSEGV\ncode: 1 SEGV_MAPERR\nthread: 1\naddress: 0x0000000000001108\n"
      "below: global 1 +264 past-end 8\n"
      "trace 0: finished\nstack 0: 202 200\ndepth 0: 2\ntrace 1: finished\nstack 1: 201 203\ndepth 1: 2\n"
      "trace 2: finished-cut-record\nstack 2: 201 203\ndepth 2: 2\ntrace 3: unfinished\nstack 3:\ndepth 3: 0\n";
  const std::string dir = namedRun("proftrace_crashed", {"main", "store", "pthread_join", "worker"},
                                   "global\tapp_0\t1\ttable\t256\tdesign.c\t3\n");
  writeTrace(dir + "/thread0000-trace.txt", trace({0, 200, 0, 0, 202, 200}));
  writeTrace(dir + "/thread0001-trace.txt", trace({0, 203, 0, 0, 201, 203, 4, 1, 8}));
  writeTrace(dir + "/thread0002-trace.txt", trace({0, 203, 0, 0, 201, 203, 4, 1}));  // an access cut after its id
  // The first compressed bytes of a trace, without its end: what a stream
  // interrupted inside deflate leaves.
  writeTrace(dir + "/thread0003-trace.txt", header);
  copyPrefix(dir + "/thread0003-trace.txt", dir + "/thread0003-cut", 8);
  ASSERT_EQ(std::rename((dir + "/thread0003-cut").c_str(), (dir + "/thread0003-trace.txt").c_str()), 0);
  writeText(dir + "/crash", crashText);

  const RunResult check = proftrace({"check", dir});
  EXPECT_EQ(check.exitCode, 3) << check.out;
  EXPECT_EQ(check.out,
            dir + ": CRASHED: SIGSEGV (signal 11, code 1 SEGV_MAPERR) in thread 1; 'proftrace crash " + dir +
                "' shows the last records of every thread\n" +
                dir + "/thread0000-trace.txt: ok (11 values, 14 bytes; ended at the crash: running in pthread_join (2 "
                      "frames open) when thread 1 received SIGSEGV)\n" +
                dir + "/thread0001-trace.txt: ok (14 values, 17 bytes; ended at the crash: stopped by SIGSEGV in store "
                      "with 2 frames open)\n" +
                dir + "/thread0002-trace.txt: ok (13 values, 16 bytes; ended at the crash: running in store (2 frames "
                      "open) when thread 1 received SIGSEGV; the values from offset 14 on begin a record the crash "
                      "cut)\n" +
                dir + "/thread0003-trace.txt: unfinished at the crash (SIGSEGV): its thread was stopped inside the "
                      "compressor or held its trace for more than two seconds, so the crash handler could not "
                      "finish it; it holds what was written before: truncated (no end of stream, no checksum); "
                      "decodes to offset 5 (5 values)\n");

  const RunResult json = proftrace({"dump", "--labels", "--json", dir + "/thread0002-trace.txt"});
  EXPECT_EQ(json.exitCode, 0) << json.err;
  EXPECT_EQ(strictjson::check(json.out), "") << json.out;
  EXPECT_NE(json.out.find("\"frames\":\"crashed\",\"openFrames\":2,\"innermost\":\"store\",\"crash\":{\"signal\":"
                          "\"SIGSEGV\",\"receivedBy\":1,\"trace\":\"finished-cut-record\"}}}\n"),
            std::string::npos)
      << json.out;
  const RunResult stats = proftrace({"stats", dir});
  EXPECT_EQ(stats.exitCode, 1) << "thread 3's trace is not complete";
  EXPECT_NE(stats.out.find("  end: ended at the crash: stopped by SIGSEGV in store with 2 frames open\n"),
            std::string::npos)
      << stats.out;
  EXPECT_NE(stats.out.find("  NOTE: unfinished at the crash (SIGSEGV)"), std::string::npos) << stats.out;

  const RunResult crash = proftrace({"crash", dir, "--last", "2"});
  EXPECT_EQ(crash.exitCode, 0) << crash.err;
  EXPECT_NE(crash.out.find("  falls into:       nothing; the nearest below is global table (variable 1, 256 bytes): "
                           "the address is 8 bytes past its end (offset 264 from its start)\n"
                           "  thread 0:         trace finished; stack (2 frames, innermost first): pthread_join [202] "
                           "<- main [200]\n"),
            std::string::npos)
      << crash.out;
  EXPECT_NE(crash.out.find("Thread 1 (thread0001-trace.txt): trace finished at the crash; 4 records\n"
                           "  end: ended at the crash: stopped by SIGSEGV in store with 2 frames open\n"
                           "  stack at the crash: store [201] <- worker [203]\n"
                           "  last 2 records:\n"
                           "    offset depth record\n"
                           "         9     2 entry function=201 name=\"store\" caller=203\n"
                           "        14     2 global-access variable=1 name=\"table\" offset=8\n"),
            std::string::npos)
      << crash.out;
  const RunResult crashJson = proftrace({"crash", dir, "--json"});
  EXPECT_EQ(crashJson.exitCode, 0) << crashJson.err;
  EXPECT_EQ(strictjson::check(crashJson.out), "") << crashJson.out;

  // Hand-instrumented: no names, so the last values stand for the records.
  const std::string bare = scratchDir("proftrace_crashed_bare");
  writeText(bare + "/functionMapping", "200 app_0 200\n201 app_0 201\n");
  writeTrace(bare + "/thread0000-trace.txt", trace({0, 200, 0, 0, 201, 200}));
  writeText(bare + "/crash", "crash: 1\nsignal: 15 SIGTERM\ncode: 0 SI_USER\nsender: 77\nthread: 0\n"
                             "trace 0: finished\nstack 0: 201 200\ndepth 0: 2\n");
  const RunResult bareCrash = proftrace({"crash", bare, "--last=2"});
  EXPECT_EQ(bareCrash.exitCode, 0) << bareCrash.err;
  EXPECT_NE(bareCrash.out.find("Thread 0 (thread0000-trace.txt): trace finished at the crash; 6 values\n"
                               "  stack at the crash: ? [201] <- ? [200]\n"
                               "  no labels: the run directory has no function name lines"),
            std::string::npos)
      << bareCrash.out;
  EXPECT_NE(bareCrash.out.find("the last 2 values instead:\n"
                               "    offset             unsigned               signed\n"
                               "        10                  201                  201\n"
                               "        12                  200                  200\n"),
            std::string::npos)
      << bareCrash.out;
  const RunResult bareCheck = proftrace({"check", bare});
  EXPECT_EQ(bareCheck.exitCode, 3) << bareCheck.out;
  EXPECT_NE(bareCheck.out.find("thread0000-trace.txt: ok (11 values, 14 bytes; finished at the crash (SIGTERM))"),
            std::string::npos)
      << bareCheck.out;

  // A crash file cut where the handler's buffer ended is read up to there.
  std::string full = "crash: 1\nsignal: 6 SIGABRT\ncode: -6 SI_TKILL\nthread: 0\n";
  for (int t = 0; full.size() < 262144; ++t)
    full += "trace " + std::to_string(t) + ": finished\nstack " + std::to_string(t) + ": 201 200\ndepth " +
            std::to_string(t) + ": 2\n";
  writeText(bare + "/crash", full.substr(0, 262144));
  EXPECT_EQ(proftrace({"check", bare}).exitCode, 3);
  EXPECT_NE(proftrace({"info", bare}).out.find("(the crash file was cut at 262144 bytes"), std::string::npos);

  // A malformed crash file is a finding for every command that reads it.
  writeText(bare + "/crash", "crash: 1\nsignal: eleven\ncode: 1 SEGV_MAPERR\nthread: 0\nstack 0: 201\n");
  const RunResult malformed = proftrace({"check", bare});
  EXPECT_EQ(malformed.exitCode, 1);
  EXPECT_NE(malformed.out.find(bare + ": BAD: malformed crash file: crash:2: malformed \"signal\" line; crash:5: stack "
                                      "0 outside the group of thread 0; crash: no valid signal line\n"),
            std::string::npos)
      << malformed.out;
  EXPECT_EQ(proftrace({"info", bare}).exitCode, 1);
  EXPECT_EQ(proftrace({"crash", bare}).exitCode, 1);

  // A run that ended normally did not crash.
  std::remove((bare + "/crash").c_str());
  const RunResult none = proftrace({"crash", bare});
  EXPECT_EQ(none.exitCode, 1);
  EXPECT_NE(none.out.find(": the run did not crash: its run directory holds no crash file"), std::string::npos);
  EXPECT_EQ(proftrace({"check", bare}).exitCode, 0);
  EXPECT_EQ(proftrace({"crash", bare, "--last", "0"}).exitCode, 2);
}

}  // namespace

// proftrace as a user runs it: on the run directory of one simulation run,
// then on a copy whose trace was cut as a killed process leaves it, on a
// folder that is not a run directory and with a bad command line; and its
// labels and counts on a run written under the decodable convention.
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

}  // namespace

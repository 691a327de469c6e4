// The benchmark of whole designs: each design built plainly and through the
// plugin with each codec, with and without compression threads, run
// alternately in a scratch directory; every traced build must print exactly
// what the plain build prints. Reports per design the median wall and CPU
// time of the builds and their ratios to the plain build's (the slowdown),
// then from the traced run's traces the records, records per second, plain
// and compressed bytes per record and the compression ratio, and the CPU
// time of compressing those traces again as the runtime does, with zlib at
// the runtime's level 4 (checked to give the trace files' very bytes) and
// with the faster codecs (each checked to inflate back to the same plain
// bytes), as a share of the traced run's CPU time.
//
//   prof_designs_bench [--runs=N] [--design=NAME]... [--quick]
//
// --quick runs each design once on its brief arguments (the test suite's
// check that every path works); no time is ever judged here.

#include <algorithm>
#include <cinttypes>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <sstream>
#include <string>
#include <vector>

#include "../process_run.h"
#include "codec_timing.h"
#include "designs_table.h"
#include "tracereader/records.h"
#include "tracereader/run_directory.h"
#include "tracereader/tracereader.h"

namespace designbench {
namespace {

struct Options {
  int runs = 7;
  bool quick = false;
  std::vector<std::string> only;
};

// Medians per build: the plain one first, then the traced ones in the
// order of kTracedBuildNames.
struct Timing {
  static constexpr int kBuilds = 1 + kTracedBuilds;
  double wall[kBuilds] = {};
  double cpu[kBuilds] = {};
  double plainWall() const { return wall[0]; }
  double plainCpu() const { return cpu[0]; }
  double tracedWall() const { return wall[1]; }  // the defaults
  double tracedCpu() const { return cpu[1]; }
};

struct CodecFigures {
  double cpuMs = 1e300;  // best of the replays
  uint64_t bytes = 0;
  bool inflatesBack = true;  // zlib inflates the stream to the plain bytes
};

struct TraceFigures {
  size_t threads = 0;
  uint64_t records = 0;
  bool recordsComplete = true;  // every trace decoded to its end
  uint64_t plainBytes = 0, compressedBytes = 0;
  bool sameBytes = true;  // the replay of the runtime's codec gave the files' bytes
  std::vector<CodecFigures> codecs;  // as replayCodecs()
};

std::vector<std::string> splitArgs(const char* text) {
  std::istringstream in(text);
  return {std::istream_iterator<std::string>(in), std::istream_iterator<std::string>()};
}

std::vector<uint8_t> readFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// Alternating runs of the builds; false (with a message) when a run fails
// or the outputs differ.
bool measure(const DesignEntry& d, const Options& o, const std::string& cwd, Timing* t) {
  constexpr int kBuilds = Timing::kBuilds;
  const char* programs[kBuilds] = {d.plain};
  const char* names[kBuilds] = {"plain"};
  for (int k = 1; k < kBuilds; ++k) {
    programs[k] = d.traced[k - 1];
    names[k] = kTracedBuildNames[k - 1];
  }
  std::vector<std::string> args[kBuilds];
  for (int k = 0; k < kBuilds; ++k) {
    args[k] = splitArgs(o.quick ? d.quickArgs : d.args);
    args[k].insert(args[k].begin(), programs[k]);
  }
  std::vector<double> wall[kBuilds], cpu[kBuilds];
  std::string reference;
  // The first round warms the page cache and is not counted.
  const int rounds = o.runs + (o.runs > 1 ? 1 : 0);
  for (int r = 0; r < rounds; ++r) {
    for (int k = 0; k < kBuilds; ++k) {
      const benchrun::Outcome out = benchrun::run(args[k], cwd);
      if (out.exitCode != 0) {
        fprintf(stderr, "%s: the %s build failed (exit %d)\n", d.name, names[k], out.exitCode);
        return false;
      }
      if (r == 0 && k == 0) reference = out.out;
      if (out.out != reference) {
        fprintf(stderr, "%s: the %s build printed something else than the plain build's first run\n", d.name,
                names[k]);
        return false;
      }
      if (rounds > 1 && r == 0) continue;
      wall[k].push_back(out.wallMs);
      cpu[k].push_back(out.cpuMs);
    }
  }
  for (int k = 0; k < kBuilds; ++k) {
    t->wall[k] = benchrun::median(wall[k]);
    t->cpu[k] = benchrun::median(cpu[k]);
  }
  return true;
}

// Figures of the newest run directory; false when a trace is incomplete.
bool traceFigures(const DesignEntry& d, TraceFigures* f) {
  const std::string dir = benchrun::newestRunDir(d.profileDir);
  const tracereader::RunDirectory run = tracereader::readRunDirectory(dir);
  if (dir.empty() || run.traces.empty()) {
    fprintf(stderr, "%s: no traces below %s\n", d.name, d.profileDir);
    return false;
  }
  const tracereader::NameIndex names(run);
  f->threads = run.traces.size();
  std::vector<std::vector<uint8_t>> plain;
  std::vector<std::vector<uint8_t>> files;
  for (const tracereader::ThreadTrace& t : run.traces) {
    files.push_back(readFile(t.path));
    tracereader::InflatedTrace inflated = tracereader::inflateTrace(files.back());
    if (!inflated.complete) {
      fprintf(stderr, "%s: %s is not a complete trace: %s\n", d.name, t.path.c_str(), inflated.error.c_str());
      return false;
    }
    f->compressedBytes += files.back().size();
    f->plainBytes += inflated.bytes.size();
    tracereader::MemoryValues values(inflated.bytes);
    tracereader::RecordDecoder decoder(values, {.names = &names});
    tracereader::Record r;
    while (decoder.next(&r)) ++f->records;
    if (decoder.status().state != tracereader::DecodeStatus::kEnded) {
      f->recordsComplete = false;
      fprintf(stderr, "%s: %s decodes only to offset %" PRIu64 ": %s\n", d.name, t.path.c_str(),
              decoder.status().offset, decoder.status().reason.c_str());
    }
    plain.push_back(std::move(inflated.bytes));
  }
  // Best of three: the replay shares the machine like the runs did.
  const std::vector<Codec> codecs = replayCodecs();
  f->codecs.assign(codecs.size(), CodecFigures{});
  for (int rep = 0; rep < 3; ++rep) {
    for (size_t c = 0; c < codecs.size(); ++c) {
      double ms = 0;
      uint64_t bytes = 0;
      for (size_t i = 0; i < plain.size(); ++i) {
        const Compressed out = codecs[c].compress(plain[i], codecs[c].level);
        ms += out.cpuMs;
        bytes += out.bytes.size();
        if (rep > 0) continue;
        if (c == 0 && out.bytes != files[i]) f->sameBytes = false;
        const tracereader::InflatedTrace back = tracereader::inflateTrace(out.bytes);
        if (!back.complete || back.bytes != plain[i]) f->codecs[c].inflatesBack = false;
      }
      f->codecs[c].cpuMs = std::min(f->codecs[c].cpuMs, ms);
      f->codecs[c].bytes = bytes;
    }
  }
  return true;
}

// One row of times: the plain build's, then each traced build's with its
// ratio to the plain one (the slowdown).
void printRow(const DesignEntry& d, const TraceFigures& f, const double* times) {
  printf("| %s | %zu | %.1f |", d.name, f.threads, times[0]);
  for (int k = 1; k < Timing::kBuilds; ++k) printf(" %.1f (**%.1f×**) |", times[k], times[k] / times[0]);
  printf("\n");
  fflush(stdout);
}

void printTimeTableHead(const char* what) {
  printf("| design | threads | plain %s |", what);
  for (const char* name : kTracedBuildNames) printf(" %s |", name);
  printf("\n|---|---|---|");
  for (int k = 0; k < kTracedBuilds; ++k) printf("---|");
  printf("\n");
}

void printTraceRow(const DesignEntry& d, const Timing& t, const TraceFigures& f) {
  const double records = static_cast<double>(f.records);
  printf("| %s | %.2f%s | %.1f | %.0f | %.2f | %.3f | %.2f | %s |\n", d.name, records / 1e6,
         f.recordsComplete ? "" : "+", records / (t.tracedWall() / 1e3) / 1e6, (t.tracedCpu() - t.plainCpu()) * 1e6 / records,
         f.plainBytes / records, f.compressedBytes / records, static_cast<double>(f.plainBytes) / f.compressedBytes,
         f.sameBytes ? "yes" : "NO");
}

void printCodecRow(const DesignEntry& d, const Timing& t, const TraceFigures& f) {
  printf("| %s |", d.name);
  for (const CodecFigures& c : f.codecs) {
    printf(" %.0f (%.0f %%), %.0f MB/s, ratio %.2f%s |", c.cpuMs, 100 * c.cpuMs / t.cpu[2],
           f.plainBytes / 1e3 / c.cpuMs, static_cast<double>(f.plainBytes) / c.bytes,
           c.inflatesBack ? "" : " NOT INFLATABLE");
  }
  printf("\n");
}

bool parse(int argc, char** argv, Options* o) {
  bool runsGiven = false;
  for (int i = 1; i < argc; ++i) {
    if (strncmp(argv[i], "--runs=", 7) == 0) {
      o->runs = std::max(1, atoi(argv[i] + 7));
      runsGiven = true;
    } else if (strncmp(argv[i], "--design=", 9) == 0) {
      o->only.emplace_back(argv[i] + 9);
    } else if (strcmp(argv[i], "--quick") == 0) {
      o->quick = true;
    } else {
      return false;
    }
  }
  if (o->quick && !runsGiven) o->runs = 1;
  for (const std::string& name : o->only) {
    if (std::none_of(std::begin(kDesigns), std::end(kDesigns), [&](const DesignEntry& d) { return name == d.name; })) {
      fprintf(stderr, "no design named %s\n", name.c_str());
      return false;
    }
  }
  return true;
}

}  // namespace
}  // namespace designbench

int main(int argc, char** argv) {
  using namespace designbench;
  Options o;
  if (!parse(argc, argv, &o)) {
    fprintf(stderr, "usage: %s [--runs=N] [--design=NAME]... [--quick]\ndesigns:", argv[0]);
    for (const DesignEntry& d : kDesigns) fprintf(stderr, " %s", d.name);
    fprintf(stderr, "\n");
    return 2;
  }
  char scratch[] = "/tmp/prof-designs-bench-XXXXXX";
  if (mkdtemp(scratch) == nullptr) return 1;
  std::vector<const DesignEntry*> chosen;
  for (const DesignEntry& d : kDesigns)
    if (o.only.empty() || std::find(o.only.begin(), o.only.end(), d.name) != o.only.end()) chosen.push_back(&d);

  bool ok = true;
  std::vector<Timing> timings(chosen.size());
  std::vector<TraceFigures> figures(chosen.size());
  std::vector<bool> measured(chosen.size(), false);
  for (size_t i = 0; i < chosen.size(); ++i) {
    measured[i] = measure(*chosen[i], o, scratch, &timings[i]) && traceFigures(*chosen[i], &figures[i]);
    ok = ok && measured[i];
  }
  printf("Wall time, median of %d alternating runs, ms (slowdown against the plain build)\n\n", o.runs);
  printTimeTableHead("wall");
  for (size_t i = 0; i < chosen.size(); ++i)
    if (measured[i]) printRow(*chosen[i], figures[i], timings[i].wall);
  printf("\nCPU time of the whole process (every thread), same runs, ms (slowdown)\n\n");
  printTimeTableHead("CPU");
  for (size_t i = 0; i < chosen.size(); ++i)
    if (measured[i]) printRow(*chosen[i], figures[i], timings[i].cpu);
  printf("\nTraces of the last traced run\n\n");
  printf("| design | records (M) | M records/s | added CPU ns/record | plain B/record | compressed B/record | "
         "compression ratio | replay of zlib 4 = files |\n");
  printf("|---|---|---|---|---|---|---|---|\n");
  for (size_t i = 0; i < chosen.size(); ++i) {
    if (!measured[i]) continue;
    printTraceRow(*chosen[i], timings[i], figures[i]);
    ok = ok && figures[i].sameBytes;
  }
  printf("\nCompression of those traces replayed as the runtime does it: CPU ms (share of the CPU time of the "
         "run that compresses on the traced threads), plain MB per CPU second, compression ratio\n\n|design|");
  const std::vector<Codec> codecs = replayCodecs();
  for (const Codec& c : codecs) printf(" %s |", c.name);
  printf("\n|---|");
  for (size_t c = 0; c < codecs.size(); ++c) printf("---|");
  printf("\n");
  for (size_t i = 0; i < chosen.size(); ++i) {
    if (!measured[i]) continue;
    printCodecRow(*chosen[i], timings[i], figures[i]);
    for (const CodecFigures& c : figures[i].codecs) ok = ok && c.inflatesBack;
  }
  const std::string cleanup = std::string("rm -rf '") + scratch + "'";
  if (system(cleanup.c_str()) != 0) ok = false;
  return ok ? 0 : 1;
}

// Fuzz target of proftrace's commands. The first input byte chooses how the
// rest becomes a trace file in a scratch run directory (deflated as the
// runtime writes it, or written as it is, so that damaged streams are
// reached too); then dump (values, JSON, labels under both conventions),
// check, info and stats run on it. Every JSON document must be strict JSON
// (no repeated key in an object); other output is discarded.
#include <unistd.h>
#include <zlib.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "proftrace.h"
#include "strict_json.h"

namespace {

std::string gDir;
std::string gTrace;
std::FILE* gNull = nullptr;

void writeFile(const std::string& path, const void* data, size_t size) {
  std::FILE* f = std::fopen(path.c_str(), "wb");
  if (f == nullptr) std::abort();
  if (size > 0) std::fwrite(data, 1, size, f);
  std::fclose(f);
}

void writeText(const char* name, const std::string& text) { writeFile(gDir + "/" + name, text.data(), text.size()); }

int runCommand(std::vector<const char*> args) {
  args.insert(args.begin(), "proftrace");
  return proftrace::run(static_cast<int>(args.size()), args.data(), proftrace::Io{gNull, gNull});
}

// Runs a command whose standard output is one JSON document and checks it.
int runJson(std::vector<const char*> args) {
  args.insert(args.begin(), "proftrace");
  char* text = nullptr;
  size_t size = 0;
  std::FILE* out = open_memstream(&text, &size);
  if (out == nullptr) std::abort();
  const int status = proftrace::run(static_cast<int>(args.size()), args.data(), proftrace::Io{out, gNull});
  std::fclose(out);
  const std::string problem = strictjson::check(std::string_view(text, size));
  if (!problem.empty()) {
    std::fprintf(stderr, "not strict JSON: %s\n", problem.c_str());
    std::abort();
  }
  std::free(text);
  return status;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  char pattern[] = "/tmp/proftrace_fuzz_XXXXXX";
  if (mkdtemp(pattern) == nullptr) std::abort();
  gDir = pattern;
  gTrace = gDir + "/thread0000-trace.txt";
  gNull = std::fopen("/dev/null", "w");
  writeText("workingDirectory", "/w");
  writeText("commandline", "\"./sim\" \"a b\"");
  writeText("binaries", "app_0\n");
  writeText("lookupOrder", "app_0\n");
  writeText("functionMapping", "200 app_0 200\n201 app_0 201\n202 app_0 202\n203 app_0 203\n");
  writeText("globalVariableMapping",
            "function\tapp_0\t200\tmain\nfunction\tapp_0\t201\tmalloc\nfunction\tapp_0\t202\tmemcpy\n"
            "function\tapp_0\t203\tpthread_setname_np\nglobal\tapp_0\t1\tg\t4\t\t0\nlocal\tapp_0\t200\t2\tbuf\t8\n");
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  const uint8_t mode = data[0];
  ++data;
  --size;
  if (mode & 1) {
    writeFile(gTrace, data, size);
  } else {
    std::vector<uint8_t> z(compressBound(size));
    uLongf zSize = z.size();
    if (compress2(z.data(), &zSize, data, size, 4) != Z_OK) std::abort();
    if (mode & 2) zSize -= zSize / 3;  // cut, as a killed process leaves it
    writeFile(gTrace, z.data(), zSize);
  }
  const char* trace = gTrace.c_str();
  const char* dir = gDir.c_str();
  const auto expectStatus = [](int status) {
    if (status != proftrace::kExitOk && status != proftrace::kExitFinding) std::abort();
  };
  expectStatus(runCommand({"dump", trace}));
  expectStatus(runJson({"dump", "--json", trace}));
  expectStatus(runCommand({"dump", "--labels", trace}));
  expectStatus(runJson({"dump", "--labels", "--json", trace}));
  expectStatus(runJson({"dump", "--json", "--convention=hand", trace}));
  if (mode & 4) {
    expectStatus(runCommand({"check", dir, trace}));
    expectStatus(runCommand({"info", dir}));
    expectStatus(runCommand({"stats", dir}));
  }
  return 0;
}

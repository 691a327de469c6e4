// The generated part of a plugin-built binary's stub: its three
// registration routines. Each instrumented unit left records of the
// functions it defines or calls and of the variables it defines in two
// sections; at start-up these routines walk them, give every function and
// variable its id, fill the id slots that the instrumented code reads and
// register everything with the runtime.
//
// Ids, in a fixed order:
//  - static function ids from 200: main first (when the binary defines it),
//    then every other function in record order (the link order of the
//    units; within a unit its defined functions, then the functions it
//    calls, in order of first call). A function recorded by several units
//    (an inline function, a library function) keeps its first id.
//  - variable ids from 1: globals in record order, then thread-local
//    variables, then the locals of each function in static-id order
//    (fixed-size slots, dynamic arrays, by-value arguments).
#include <cstdint>
#include <cstdio>
#include <unordered_map>
#include <vector>

#include "commonProfInclude/TracingConstants.h"
#include "init.h"
#include "prof/proflibAPI.h"
#include "prof_plugin/records.h"

extern "C" {
// Defined by the linker when at least one unit left records.
extern ProfFunctionRecord __start_prof_function_records[] __attribute__((weak, visibility("hidden")));
extern ProfFunctionRecord __stop_prof_function_records[] __attribute__((weak, visibility("hidden")));
extern ProfVariableRecord __start_prof_variable_records[] __attribute__((weak, visibility("hidden")));
extern ProfVariableRecord __stop_prof_variable_records[] __attribute__((weak, visibility("hidden")));
}

namespace {

struct Function {
  uint64_t address;
  const char* name;
  uint32_t staticId;
  uint32_t firstLocal;
  uint32_t localSpan;                // ids reserved for its locals
  const ProfFunctionRecord* record;  // names its locals
};

struct Variable {
  const ProfVariableRecord* record;
  uint32_t id;
};

struct Registry {
  std::vector<Function> functions;
  std::vector<Variable> globals;
  std::vector<Variable> threadLocals;
};

// Tracing is suspended on the calling thread while it lives. The
// containers below are built from inline library code, and a unit compiled
// by the plugin may have brought an instrumented copy of the same inline
// function (std::min<unsigned long>, say) that the linker then keeps for
// the whole program: called here, during start-up, it would start tracing
// the thread before the binary is registered.
struct SuspendTracing {
  SuspendTracing() { __PROF_trace_suspend(); }
  ~SuspendTracing() { __PROF_trace_resume(); }
  SuspendTracing(const SuspendTracing&) = delete;
  SuspendTracing& operator=(const SuspendTracing&) = delete;
};

// Built once, by the first routine the runtime calls (the function
// registration), before any instrumented code runs.
const Registry& registry() {
  static const Registry R = [] {
    const SuspendTracing suspended;
    Registry r;
    const ProfFunctionRecord* begin = __start_prof_function_records;
    const ProfFunctionRecord* end = __stop_prof_function_records;
    std::unordered_map<uint64_t, size_t> byAddress;
    // The body that runs is the first definition in link order (the linker
    // keeps the first copy of an inline function): its record names the
    // locals. Copies optimised differently in other units may have more
    // locals, so the id range covers the largest.
    auto add = [&](const ProfFunctionRecord& rec) {
      const auto address = reinterpret_cast<uint64_t>(rec.address);
      const bool defined = (rec.flags & PROF_FUNCTION_DEFINED) != 0;
      if (auto it = byAddress.find(address); it != byAddress.end()) {
        Function& f = r.functions[it->second];
        if (defined && (f.record->flags & PROF_FUNCTION_DEFINED) == 0) {
          f.record = &rec;
          f.name = rec.name;
        }
        if (defined && rec.localCount > f.localSpan) f.localSpan = rec.localCount;
        return;
      }
      byAddress.emplace(address, r.functions.size());
      r.functions.push_back({address, rec.name, static_cast<uint32_t>(FunctionId_FirstAvailable_ + r.functions.size()),
                             0, defined ? rec.localCount : 0, &rec});
    };
    if (begin != nullptr)
      for (const ProfFunctionRecord* rec = begin; rec != end; ++rec)
        if ((rec->flags & PROF_FUNCTION_DEFINED) != 0 && __builtin_strcmp(rec->name, "main") == 0) add(*rec);
    if (begin != nullptr)
      for (const ProfFunctionRecord* rec = begin; rec != end; ++rec) add(*rec);

    uint32_t nextVariable = 1;
    std::unordered_map<uint64_t, bool> seen;
    if (__start_prof_variable_records != nullptr) {
      for (int kind : {PROF_VARIABLE_GLOBAL, PROF_VARIABLE_THREAD_LOCAL})
        for (const ProfVariableRecord* v = __start_prof_variable_records; v != __stop_prof_variable_records; ++v) {
          if (static_cast<int>(v->kind) != kind) continue;
          // An inline variable defined by several units is one variable.
          if (!seen.emplace(reinterpret_cast<uint64_t>(v->address), true).second) continue;
          (kind == PROF_VARIABLE_GLOBAL ? r.globals : r.threadLocals).push_back({v, nextVariable++});
        }
    }
    for (Function& f : r.functions) {
      f.firstLocal = nextVariable;
      nextVariable += f.localSpan;
    }
    // Every record's slots, also those of other units' copies.
    if (begin != nullptr)
      for (const ProfFunctionRecord* rec = begin; rec != end; ++rec) {
        if (rec->slots == nullptr) continue;
        const Function& f = r.functions[byAddress.at(reinterpret_cast<uint64_t>(rec->address))];
        rec->slots[0] = f.staticId;
        rec->slots[1] = f.firstLocal;
      }
    return r;
  }();
  return R;
}

const char* orEmpty(const char* s) { return s != nullptr ? s : ""; }

}  // namespace

extern "C" {

void __PROF_FNsInitializeFuncStruct(void) {
  for (const Function& f : registry().functions)
    __PROF_FNInitializeFuncStruct(f.staticId, f.address, __PROF_TraceInitData.BinaryUid);
}

void __PROF_LSInitGlobalInfos(FILE* mapping, const char* binary) {
  const Registry& r = registry();
  for (const Variable& v : r.globals)
    __PROF_LSInitGlobalInfo(v.id, reinterpret_cast<U64>(v.record->address), v.record->size, mapping, binary);
  if (mapping == nullptr) return;
  for (const Function& f : r.functions) fprintf(mapping, "function\t%s\t%u\t%s\n", binary, f.staticId, orEmpty(f.name));
  for (const Variable& v : r.globals)
    fprintf(mapping, "global\t%s\t%u\t%s\t%llu\t%s\t%u\n", binary, v.id, orEmpty(v.record->name),
            static_cast<unsigned long long>(v.record->size), orEmpty(v.record->file), v.record->line);
  for (const Function& f : r.functions)
    for (uint32_t i = 0; i < f.record->localCount; ++i)
      fprintf(mapping, "local\t%s\t%u\t%u\t%s\t%llu\n", binary, f.staticId, f.firstLocal + i,
              orEmpty(f.record->locals[i].name), static_cast<unsigned long long>(f.record->locals[i].size));
}

void __PROF_LSInitTLSs(FILE* mapping, const char* binary) {
  for (const Variable& v : registry().threadLocals) {
    auto instance = reinterpret_cast<void* (*)(void)>(const_cast<void*>(v.record->address));
    __PROF_LSInitTLS(v.id, reinterpret_cast<U64>(instance()), v.record->size, mapping, binary);
    if (mapping != nullptr)
      fprintf(mapping, "threadlocal\t%s\t%u\t%s\t%llu\t%s\t%u\n", binary, v.id, orEmpty(v.record->name),
              static_cast<unsigned long long>(v.record->size), orEmpty(v.record->file), v.record->line);
  }
}

}  // extern "C"

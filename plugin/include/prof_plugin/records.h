/* The records that every instrumented unit leaves for the registration
 * library. The compiler plugin emits one array of each kind per unit into a
 * dedicated section; the linker concatenates the arrays of all units, and at
 * start-up the registration library walks the sections from their
 * __start_ to their __stop_ symbol. Every record is 40 bytes and 8-aligned,
 * so the concatenation is itself an array. The plugin writes the same
 * layout as LLVM constants: change both together.
 * Compiles as C and as C++. */
#ifndef PROF_PLUGIN_RECORDS_H
#define PROF_PLUGIN_RECORDS_H

#include <stdint.h>

#define PROF_FUNCTION_SECTION prof_function_records
#define PROF_VARIABLE_SECTION prof_variable_records

#ifdef __cplusplus
extern "C" {
#endif

/* One local of a function: fixed-size stack slots first, in layout order,
 * then the dynamic ones (variable-length arrays, by-value arguments), whose
 * size is 0 when it is only known at run time. */
typedef struct ProfLocalRecord {
  const char* name;
  uint64_t size;
} ProfLocalRecord;

enum ProfFunctionFlags {
  PROF_FUNCTION_DEFINED = 1, /* a body of this unit (instrumented or excluded) */
  PROF_FUNCTION_LIBRARY = 2  /* called from this unit, defined elsewhere */
};

/* One function a unit defines or calls. slots[0] receives the function's
 * static id, which its call sites read as caller id; slots[1] receives the
 * variable id of its first local (the others follow consecutively). Units
 * that only call the function pass slots of their own, filled alike. */
typedef struct ProfFunctionRecord {
  const void* address; /* the address call sites pass to the entry hook */
  const char* name;    /* source-level name */
  uint32_t* slots;     /* two words, or null for library functions */
  const ProfLocalRecord* locals;
  uint32_t localCount;
  uint32_t flags;
} ProfFunctionRecord;

enum ProfVariableKind { PROF_VARIABLE_GLOBAL = 1, PROF_VARIABLE_THREAD_LOCAL = 2 };

/* One global or thread-local variable a unit defines. For a thread-local
 * variable, address is a function returning the calling thread's instance. */
typedef struct ProfVariableRecord {
  const void* address;
  const char* name;
  const char* file; /* "" without debug information */
  uint64_t size;
  uint32_t line; /* 0 without debug information */
  uint32_t kind;
} ProfVariableRecord;

#ifdef __cplusplus
}
#endif

#endif

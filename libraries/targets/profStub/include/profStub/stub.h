/* The part of an instrumented binary's start-up stub that belongs to the
 * binary: its three registration routines. A hand-instrumented program
 * writes them in one short file from lists of its functions and variables:
 *
 *   #include "profStub/stub.h"
 *   #define MY_FUNCTIONS(F) F(200, main) F(201, printf) F(202, filter)
 *   #define MY_GLOBALS(G) G(1, gCoefficients)
 *   #define MY_THREADLOCALS(T) T(2, tCount)
 *   #define MY_LOCALS(L) L(202, 3, window, 16)
 *   PROF_STUB(MY_FUNCTIONS, MY_GLOBALS, MY_THREADLOCALS, MY_LOCALS)
 *
 * F(static id, function): a function the binary starts or calls, registered
 *   at the address its call sites hand to the entry hook (static ids from
 *   200, each function once, in the order listed).
 * G(variable id, global) and T(variable id, thread-local variable): a
 *   variable registered with its address and size (a thread-local one on
 *   every thread, for that thread's instance).
 * L(function static id, variable id, name, size): a local variable that the
 *   function registers itself when it starts; listed only for its name line
 *   (size 0 for a variable-length array, whose size is known at run time).
 * PROF_STUB_NONE stands for an empty list.
 *
 * PROF_STUB also writes the binary's name lines into the run directory's
 * "globalVariableMapping", one line per item, fields separated by a TAB:
 *   function    <binary> <static id> <name>
 *   global      <binary> <variable id> <name> <size> <source file> <line>
 *   threadlocal <binary> <variable id> <name> <size> <source file> <line>
 *   local       <binary> <function static id> <variable id> <name> <size>
 * Names are the spellings in the lists; the source file is empty and the
 * line 0 (the lists do not know where an item is defined).
 * PROF_STUB_UNNAMED registers the same items and writes no name lines.
 *
 * Compiles as C and as C++. */
#ifndef PROF_STUB_STUB_H
#define PROF_STUB_STUB_H

#include <stdint.h>
#include <stdio.h>

#include "prof/proflibAPI.h"

#ifdef __cplusplus
extern "C" {
#endif

/* The binary's trace configuration, defined by the common part of the stub. */
PROF_API extern const InstrumentationConfig __PROF_TraceInitData;

/* Registers the binary's functions; called once, at start-up. */
void __PROF_FNsInitializeFuncStruct(void);
/* Registers the binary's globals; called once, at start-up, with the
 * "globalVariableMapping" stream and the binary's UID. */
void __PROF_LSInitGlobalInfos(FILE* WriteTo, const char* BinaryUid);
/* Registers the calling thread's thread-local variables; called on every
 * thread, with the mapping stream on exactly one of them and null on all
 * others. */
void __PROF_LSInitTLSs(FILE* WriteTo, const char* BinaryUid);

#ifdef __cplusplus
}
#define PROF_STUB_EXTERN_C extern "C"
#else
#define PROF_STUB_EXTERN_C
#endif

/* A name field: a TAB or a line end would split the line, a blank stands
 * in for it. */
static inline void prof_stub_write_name(FILE* out, const char* name) {
  for (; *name != '\0'; ++name) fputc(*name == '\t' || *name == '\n' || *name == '\r' ? ' ' : *name, out);
}

static inline void prof_stub_function_line(FILE* out, const char* binary, uint32_t id, const char* name) {
  if (out == NULL) return;
  fprintf(out, "function\t%s\t%u\t", binary, (unsigned)id);
  prof_stub_write_name(out, name);
  fputc('\n', out);
}

static inline void prof_stub_variable_line(FILE* out, const char* kind, const char* binary, uint32_t id,
                                           const char* name, uint64_t size) {
  if (out == NULL) return;
  fprintf(out, "%s\t%s\t%u\t", kind, binary, (unsigned)id);
  prof_stub_write_name(out, name);
  fprintf(out, "\t%llu\t\t0\n", (unsigned long long)size);
}

static inline void prof_stub_local_line(FILE* out, const char* binary, uint32_t function, uint32_t id,
                                        const char* name, uint64_t size) {
  if (out == NULL) return;
  fprintf(out, "local\t%s\t%u\t%u\t", binary, (unsigned)function, (unsigned)id);
  prof_stub_write_name(out, name);
  fprintf(out, "\t%llu\n", (unsigned long long)size);
}

/* The address of a function or variable as the hooks take it. */
#define PROF_STUB_ADDRESS(item) ((uint64_t)(uintptr_t)&(item))

#define PROF_STUB_NONE(...)

#define PROF_STUB_REGISTER_FUNCTION_(id, function) \
  __PROF_FNInitializeFuncStruct((id), PROF_STUB_ADDRESS(function), __PROF_TraceInitData.BinaryUid);
#define PROF_STUB_REGISTER_GLOBAL_(id, variable) \
  __PROF_LSInitGlobalInfo((id), PROF_STUB_ADDRESS(variable), sizeof(variable), mapping, binary);
#define PROF_STUB_REGISTER_THREADLOCAL_(id, variable) \
  __PROF_LSInitTLS((id), PROF_STUB_ADDRESS(variable), sizeof(variable), mapping, binary);
#define PROF_STUB_NAME_FUNCTION_(id, function) prof_stub_function_line(mapping, binary, (id), #function);
#define PROF_STUB_NAME_GLOBAL_(id, variable) \
  prof_stub_variable_line(mapping, "global", binary, (id), #variable, sizeof(variable));
#define PROF_STUB_NAME_THREADLOCAL_(id, variable) \
  prof_stub_variable_line(mapping, "threadlocal", binary, (id), #variable, sizeof(variable));
#define PROF_STUB_NAME_LOCAL_(function, id, name, size) \
  prof_stub_local_line(mapping, binary, (function), (id), #name, (size));

/* Defines the three registration routines; the NAME_ arguments are the
 * line writers, or PROF_STUB_NONE for no lines. */
#define PROF_STUB_ROUTINES_(FUNCTIONS, GLOBALS, THREADLOCALS, LOCALS, NAME_FUNCTION, NAME_GLOBAL, \
                            NAME_THREADLOCAL, NAME_LOCAL)                                        \
  PROF_STUB_EXTERN_C void __PROF_FNsInitializeFuncStruct(void) { FUNCTIONS(PROF_STUB_REGISTER_FUNCTION_) } \
  PROF_STUB_EXTERN_C void __PROF_LSInitGlobalInfos(FILE* mapping, const char* binary) {          \
    (void)mapping;                                                                               \
    (void)binary;                                                                                \
    GLOBALS(PROF_STUB_REGISTER_GLOBAL_)                                                          \
    FUNCTIONS(NAME_FUNCTION)                                                                     \
    GLOBALS(NAME_GLOBAL)                                                                         \
    LOCALS(NAME_LOCAL)                                                                           \
  }                                                                                              \
  PROF_STUB_EXTERN_C void __PROF_LSInitTLSs(FILE* mapping, const char* binary) {                 \
    (void)mapping;                                                                               \
    (void)binary;                                                                                \
    THREADLOCALS(PROF_STUB_REGISTER_THREADLOCAL_)                                                \
    THREADLOCALS(NAME_THREADLOCAL)                                                               \
  }

#define PROF_STUB(FUNCTIONS, GLOBALS, THREADLOCALS, LOCALS)                                        \
  PROF_STUB_ROUTINES_(FUNCTIONS, GLOBALS, THREADLOCALS, LOCALS, PROF_STUB_NAME_FUNCTION_,          \
                      PROF_STUB_NAME_GLOBAL_, PROF_STUB_NAME_THREADLOCAL_, PROF_STUB_NAME_LOCAL_)
#define PROF_STUB_UNNAMED(FUNCTIONS, GLOBALS, THREADLOCALS)                                        \
  PROF_STUB_ROUTINES_(FUNCTIONS, GLOBALS, THREADLOCALS, PROF_STUB_NONE, PROF_STUB_NONE,            \
                      PROF_STUB_NONE, PROF_STUB_NONE, PROF_STUB_NONE)

#endif /* PROF_STUB_STUB_H */

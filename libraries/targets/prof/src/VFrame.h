// Frames and scopes of a thread's virtual call stack. A frame stands for one
// active instrumented call; its scopes hold the dynamic locals (variable-
// length arrays, by-value argument copies) opened in it.
//
// Ownership: frames and scopes belong to the thread whose stack holds them;
// popped ones go back to the thread's pools. Other threads read a frame
// chain only under the owner's FramePtr_mutex, so the owner changes what a
// reader can reach (frame ranges, scopes, dynamic locals) under that mutex.
#pragma once

#include <cstdint>

#include "red_black_tree.h"
#include "table.h"

struct Function;

typedef struct VScope_s {
  RBTreeStruct_t tree;    // dynamic locals opened in this scope (nodes owned by the frame's table)
  uint64_t bot;           // the frame's bot when the scope was opened
  uint64_t top;           // the frame's top when the scope was opened
  struct VScope_s* prev;  // enclosing scope, or next free record in the pool
} VScope_t;

typedef struct VFrame_s {
  struct VFrame_s* prev;     // the frame below, or next free record in the pool
  const Function* function;  // possibly the catch-all record
  uint32_t Id;               // depth: 1 for the bottom frame
  uint64_t address;          // frame address from the start hook; 0 if none
  uint64_t bot;              // start of the frame's variable range
  uint64_t top;              // end (exclusive) of that range
  VScope_t* inner;           // innermost open scope
  Table* dynamic_table;      // dynamic-local nodes by uid; null until the first
  bool isCalledFromLibrary;  // pushed by the function's own start hook
} VFrame_t;

inline void __PROF_VFrame_construct(VFrame_t* Frame, VFrame_t* prev, const Function* funcData) {
  Frame->prev = prev;
  Frame->function = funcData;
  Frame->Id = prev ? prev->Id + 1 : 1;
  Frame->address = 0;
  Frame->bot = 0;
  Frame->top = 0;
  Frame->inner = nullptr;
  Frame->dynamic_table = nullptr;
  Frame->isCalledFromLibrary = false;
}
void __PROF_VFrame_pushScope(VFrame_t* Frame, VScope_t* Scope);
VScope_t* __PROF_VFrame_popScope(VFrame_t* Frame);

// The library functions whose calls instrumented code makes through the
// runtime's wrappers instead, so that heap blocks, threads, signals, streams
// and the memory a library touches are reported.
#pragma once

#include "llvm/ADT/StringRef.h"

namespace prof {

struct WrappedFunction {
  llvm::StringRef name;         // the library function as called
  llvm::StringRef wrapper;      // the runtime's replacement
  llvm::StringRef displayName;  // name written into the name lines
  bool allocation;              // allocates or releases heap memory
  unsigned keptArguments;       // arguments passed on; ~0u for all
};

// The wrapper of a called function, or null when calls of it stay as they are.
const WrappedFunction* findWrapped(llvm::StringRef name);

}  // namespace prof

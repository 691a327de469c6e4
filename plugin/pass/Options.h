// The plugin's options. They are LLVM command-line options ("-mllvm
// -prof-..."), which clang parses only for plugins it loaded before its
// option parsing: the build integration therefore loads the plugin with
// "-Xclang -load" as well as with "-fpass-plugin=" (see
// docs/instrumenting.md).
#pragma once

#include <string>
#include <vector>

namespace prof {

struct PluginOptions {
  bool traceMemory;     // report loads, stores and memory intrinsics
  bool traceAllocs;     // redirect allocation and release functions to their wrappers
  bool returnValues;    // exit hook with the call's return value
  bool basicBlocks;     // basic-block records (voids the decodable convention)
  bool skipStackSlots;  // no reports for stack slots whose address never escapes
  bool libPointerArgs;  // report pointer arguments handed to library functions
  bool accessKinds;     // stores through their own hook, so that traces tell them from loads
  std::vector<std::string> exclude;  // functions or files left uninstrumented
};

const PluginOptions& pluginOptions();

}  // namespace prof

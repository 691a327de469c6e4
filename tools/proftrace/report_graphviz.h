// Rendering of the report's pictures with Graphviz's dot, which proftrace
// runs as a separate program (Debian package graphviz).
#pragma once

#include <string>

namespace proftrace {

// Runs "dot -Tsvg dotPath -o svgPath" (dot found through PATH). False, with
// *error set, when dot is missing, cannot run or fails.
bool renderSvg(const std::string& dotPath, const std::string& svgPath, std::string* error);

}  // namespace proftrace

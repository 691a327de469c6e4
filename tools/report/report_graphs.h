// The run report's pictures as Graphviz graphs (DOT text): the dataflow
// graph (threads, and the streams and shared variables between them) and
// the call graph. Plain text from the report's data; rendering them is the
// caller's business (proftrace runs Graphviz's dot).
#pragma once

#include <string>

#include "report.h"

namespace report {

// Threads are nodes. A stream is an edge from each producer thread to each
// consumer thread, labelled with its name, elements passed and high-water
// mark; a stream that only one side used ends at a node of its own. A
// variable shared by two threads is a dashed edge between them, by more a
// dashed node joined to each, labelled with each thread's accesses (reads
// and writes when the traces tell them apart).
std::string dataflowDot(const Report& r);

// Functions entered are nodes (with their calls), call edges are labelled
// with their calls; a thread's first function hangs off "thread start".
std::string callGraphDot(const Report& r);

}  // namespace report

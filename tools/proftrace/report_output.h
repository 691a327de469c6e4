// Formatters of the run report (the analysis is tools/report): plain text
// for the terminal, one JSON document, and CSV tables for other tools.
#pragma once

#include <cstdio>
#include <string>

#include "report/report.h"

namespace proftrace {

// Tables readable at 100 columns.
void writeReportText(const report::Report& r, std::FILE* out);
// One JSON document; the schema is in docs/report.md.
void writeReportJson(const report::Report& r, std::FILE* out);

// "<thread> (<name or start function>)": how a thread is shown.
std::string threadLabel(const report::Report& r, uint32_t thread);

}  // namespace proftrace

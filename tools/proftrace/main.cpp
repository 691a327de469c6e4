// Entry point of proftrace; everything else is in the commands library.
#include <cstdio>
#include <exception>

#include "proftrace.h"

int main(int argc, char** argv) {
  try {
    return proftrace::run(argc, argv, proftrace::Io{stdout, stderr});
  } catch (const std::exception& e) {
    std::fprintf(stderr, "proftrace: %s\n", e.what());
    return proftrace::kExitFinding;
  }
}

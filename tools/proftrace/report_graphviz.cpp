// dot runs as a child process with proftrace's standard streams, so its
// own complaints reach the user as it wrote them.
#include "report_graphviz.h"

#include <spawn.h>
#include <sys/wait.h>

#include <cerrno>
#include <cstring>

extern char** environ;

namespace proftrace {

bool renderSvg(const std::string& dotPath, const std::string& svgPath, std::string* error) {
  std::string program = "dot", format = "-Tsvg", output = "-o";
  std::string input = dotPath, target = svgPath;
  char* argv[] = {program.data(), format.data(), input.data(), output.data(), target.data(), nullptr};
  pid_t child = 0;
  const int spawned = posix_spawnp(&child, "dot", nullptr, nullptr, argv, environ);
  if (spawned != 0) {
    *error = spawned == ENOENT ? "the Graphviz program 'dot' was not found; install the Debian package graphviz"
                               : std::string("cannot run Graphviz's dot: ") + std::strerror(spawned);
    return false;
  }
  int status = 0;
  while (waitpid(child, &status, 0) < 0)
    if (errno != EINTR) {
      *error = std::string("waiting for Graphviz's dot: ") + std::strerror(errno);
      return false;
    }
  if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
    *error = "Graphviz's dot failed on " + dotPath +
             (WIFEXITED(status) ? " (exit status " + std::to_string(WEXITSTATUS(status)) + ")" : " (killed by a signal)");
    return false;
  }
  return true;
}

}  // namespace proftrace

/* Loads an instrumented shared library while it runs. */
#include <dlfcn.h>
#include <stdio.h>

int main(int argc, char** argv) {
  if (argc < 2) return 2;
  printf("loading\n");
  fflush(stdout);
  void* library = dlopen(argv[1], RTLD_NOW);
  if (library == NULL) {
    printf("dlopen failed: %s\n", dlerror());
    return 3;
  }
  printf("loaded\n");
  return 0;
}

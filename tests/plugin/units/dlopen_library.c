/* An instrumented library, loaded by dlopen_host while it runs. */
int gLoads;

int libraryWork(int x) { return x + gLoads; }


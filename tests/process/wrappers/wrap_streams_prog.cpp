// Stream writes and reads through the profiler wrappers. The handle and a
// value are registered globals, a second value lives on the heap, so each
// reported block names its variable.
#include <cstdint>
#include <cstdio>
#include <string>

#include "hls/nuq_hls_stream.h"
#include "init.h"
#include "instrumented.h"

using instrumented::addressOf;

HlsStream* gStream;  // global 1: the stream handle variable
uint32_t gValue;     // global 2

int main() {
  instrumented::startMain(addressOf(&main));
  gStream = nuq_hls_stream_create("hls::stream<unsigned int>::stream()", 0);

  for (uint32_t v = 1; v <= 3; ++v) {
    gValue = v;
    __PROF_nuq_hls_stream_blocking_write(&gStream, &gValue, sizeof gValue);
  }
  auto* heapValue = static_cast<uint32_t*>(__PROF_Malloc(sizeof(uint32_t)));
  instrumented::report("heap", heapValue);
  *heapValue = 4;
  __PROF_nuq_hls_stream_blocking_write(&gStream, heapValue, sizeof *heapValue);

  for (int i = 0; i < 3; ++i) {
    gValue = 0;
    const int rc = __PROF_nuq_hls_stream_blocking_read(&gStream, &gValue, sizeof gValue);
    printf("read %d %u\n", rc, gValue);
  }
  *heapValue = 0;
  int rc = __PROF_nuq_hls_stream_blocking_read(&gStream, heapValue, sizeof *heapValue);
  printf("read %d %u\n", rc, *heapValue);

  gValue = 99;
  rc = __PROF_nuq_hls_stream_blocking_read(&gStream, &gValue, sizeof gValue);  // empty
  printf("read %d %u\n", rc, gValue);

  __PROF_Free(heapValue);
  nuq_hls_stream_delete(gStream);
  __PROF_UpdateRetBBCount();
  return 0;
}

extern "C" void __PROF_FNsInitializeFuncStruct(void) {
  __PROF_FNInitializeFuncStruct(200, addressOf(&main), "app_0");
}
extern "C" void __PROF_LSInitGlobalInfos(FILE* mapping, const char* binary) {
  __PROF_LSInitGlobalInfo(1, addressOf(&gStream), sizeof gStream, mapping, binary);
  __PROF_LSInitGlobalInfo(2, addressOf(&gValue), sizeof gValue, mapping, binary);
}
extern "C" void __PROF_LSInitTLSs(FILE*, const char*) {}

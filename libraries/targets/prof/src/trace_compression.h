// The compression threads: deflate runs on threads of the runtime's own
// instead of the design's, so a traced thread pays for copying its records
// into a buffer and not for compressing them. A printer whose buffer fills
// hands it over (bufferedPrinter.h) and asks for compression here; a thread
// takes the printer from a queue and compresses everything it has handed
// over, in order. Traces of different threads compress in parallel when
// there are several compression threads; one trace is never compressed by
// two at once.
//
// The threads are started at the first request, run only the runtime's own
// code (they are never traced), block the termination signals so that a
// signal sent to the process reaches a design thread, and live until the
// process ends.
#pragma once

#include "bufferedPrinter.h"

// How many compression threads this process uses: the number its build
// chose (0 compresses every trace on its own thread), else one fewer than
// the processors this process may run on; at most kMaxCompressionThreads.
inline constexpr unsigned kMaxCompressionThreads = 8;
[[nodiscard]] unsigned compressionThreadCount();

// Queues the printer for a compression thread. False when no thread will
// compress it (none configured, none could be started, or this is a child
// process that a bare fork made): the caller then compresses itself.
[[nodiscard]] bool requestCompression(bufferedPrinterStruct_t* printer);

// Takes the printer out of the queue and waits until no compression thread
// holds it; before the printer is freed.
void forgetCompression(bufferedPrinterStruct_t* printer);

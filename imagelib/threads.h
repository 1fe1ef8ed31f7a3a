#pragma once

// How many threads the image operations may use. Operations split their
// output rows over that many threads (the caller's among them); every result
// is the same for any count. The default is KVEL_THREADS from the
// environment when it holds a positive number, else the processor count.

#include <kvel/export.h>

namespace KVEL {

KVEL_API int threadCount();

// 1 keeps every operation on the caller's thread; 0 or less restores the default.
KVEL_API void setThreadCount(int count);

}  // namespace KVEL

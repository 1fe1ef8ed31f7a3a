#pragma once

// How many threads the image operations may use. Operations split their
// output rows over that many threads (the caller's among them); every result
// is the same for any count. The default is KVEL_THREADS from the
// environment when it holds a positive number, else the processor count.

namespace KVEL {

int threadCount();

// 1 keeps every operation on the caller's thread; 0 or less restores the default.
void setThreadCount(int count);

}  // namespace KVEL

#pragma once

// Why a call was refused. Every call that can fail clears the calling
// thread's reason when it starts and, when it refuses, records one line: the
// same words it prints on standard output ("Error: ..." or "Warning: ...").

#include <kvel/export.h>

namespace KVEL {

// The calling thread's reason for its last refused call; empty when the last
// call that can fail succeeded. Valid until that thread's next library call.
KVEL_API const char* lastError();

// Library-wide: whether refusals and warnings are also printed on standard
// output (the default). Callers that take the reasons from lastError() turn
// it off. Progress lines keep following each image's verbose flag.
KVEL_API void setMessagesPrinted(bool printed);
KVEL_API bool messagesPrinted();

}  // namespace KVEL

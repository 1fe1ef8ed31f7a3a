#pragma once

// The one way the library reports: a refusal is recorded for lastError() and
// printed unless printing is off; a notice (a warning that refuses nothing,
// a reader's progress line) is only printed. Calls whose contract is to print
// nothing record their refusals only.

#include <string>

namespace KVEL {

// Called at the start of every public call that can fail.
void clearLastError();
void reportFailure(const std::string& line);
void reportNotice(const std::string& line);
void recordFailure(const std::string& line);

}  // namespace KVEL

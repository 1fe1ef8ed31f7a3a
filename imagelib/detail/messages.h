#pragma once

// The one way the library reports: a refusal is recorded for lastError() and
// printed unless printing is off; a notice (a warning that refuses nothing,
// a reader's progress line) is only printed.

#include <string>

namespace KVEL {

// Called at the start of every public call that can fail.
void clearLastError();
void reportFailure(const std::string& line);
void reportNotice(const std::string& line);

}  // namespace KVEL

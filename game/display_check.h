#pragma once

#include <string>

// Whether an X display can be opened: `name`, or $DISPLAY when it is empty.
// Otherwise fills `error` with a one-line reason and what to do, because
// freeglut would only say "failed to open display" and exit.
bool displayAvailable(const std::string& name, std::string& error);

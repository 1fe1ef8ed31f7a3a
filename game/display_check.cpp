#include "game/display_check.h"

#include <X11/Xlib.h>

#include <cstdlib>

bool displayAvailable(const std::string& name, std::string& error) {
    const char* env = std::getenv("DISPLAY");
    const std::string shown = name.empty() ? (env ? env : "") : name;
    if (shown.empty()) {
        error = "no display: DISPLAY is not set (set it to a running X server, or run under xvfb-run -a)";
        return false;
    }
    Display* display = XOpenDisplay(shown.c_str());
    if (display == nullptr) {
        error = "cannot open display '" + shown +
                "' (set DISPLAY to a running X server, or run under xvfb-run -a)";
        return false;
    }
    XCloseDisplay(display);
    return true;
}

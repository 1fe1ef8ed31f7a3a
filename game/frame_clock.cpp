#include "game/frame_clock.h"

#include <chrono>

unsigned long frameClockMs() {
    using namespace std::chrono;
    return static_cast<unsigned long>(
        duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count());
}

#pragma once

// Whole milliseconds of monotonic wall time. The frame time dt is the
// difference of two readings, so the origin does not matter; processor time
// would run slow whenever the game waits for the display.
unsigned long frameClockMs();

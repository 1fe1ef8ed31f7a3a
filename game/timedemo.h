#pragma once

#include <functional>
#include <iosfwd>

// Benchmark mode: the real game loop on a fixed 16 ms step, so every machine
// computes the same frames; only the time they take differs.
struct TimedemoTotals {
    long frames = 0;         // frames stepped and drawn
    double seconds = 0;      // wall time from the first step to the last frame shown
    double stepSeconds = 0;  // world steps
    double drawSeconds = 0;  // frame drawing, finished by the renderer
    // The drawing thread's own processor time in it: the renderer's other
    // threads and waiting for them are not counted, nor are other programs.
    double drawCpuSeconds = 0;
};

constexpr unsigned kTimedemoStepMs = 16;

// Replaces the idle and display callbacks: each idle call advances the world by
// 16 ms, the display call that follows draws and shows that frame; after
// `frames` frames the main loop is left. With keepLastFrame the last frame is
// kept for --screenshot. afterFrame, when given, is called with the frame's
// number (from 1) once each frame of the run is shown.
void startTimedemo(long frames, bool keepLastFrame, std::function<void(long frame)> afterFrame = nullptr);

const TimedemoTotals& timedemoTotals();

// Frames per second and the mean world-step and drawing milliseconds.
// The parenthesis names how the frames were drawn: culling on or off, and
// whether they showed the terrain only.
void printTimedemoReport(std::ostream& out, const TimedemoTotals& totals, bool culling, bool terrainOnly);

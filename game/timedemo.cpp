#include "game/timedemo.h"

#include <GL/freeglut.h>

#include <chrono>
#include <ctime>
#include <iomanip>
#include <ostream>
#include <utility>

#include "game/screenshot.h"
#include "game/update.h"
#include "world/frame.h"

namespace {

using Clock = std::chrono::steady_clock;

long framesWanted = 0;
long framesStepped = 0;
bool keepLast = false;
std::function<void(long)> frameShown;
TimedemoTotals totals;
Clock::time_point runStart;

double secondsSince(Clock::time_point from) {
    return std::chrono::duration<double>(Clock::now() - from).count();
}

double threadCpuSeconds() {
    timespec t{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return static_cast<double>(t.tv_sec) + 1e-9 * static_cast<double>(t.tv_nsec);
}

void timedemoIdle() {
    // One step per drawn frame: wait while the last step is still undrawn.
    if (framesStepped > totals.frames || framesStepped >= framesWanted) return;
    const Clock::time_point start = Clock::now();
    if (framesStepped == 0) runStart = start;
    stepWorld(kTimedemoStepMs);  // also requests the redisplay that draws this frame
    totals.stepSeconds += secondsSince(start);
    ++framesStepped;
}

void timedemoDisplay() {
    const Clock::time_point start = Clock::now();
    const double cpuStart = threadCpuSeconds();
    drawFrame();
    glFinish();
    const double cpu = threadCpuSeconds() - cpuStart;
    // Window-system redraws before the first step or after the last are not frames of the run.
    const bool countsAsFrame = framesStepped > totals.frames;
    if (countsAsFrame) {
        totals.drawSeconds += secondsSince(start);
        totals.drawCpuSeconds += cpu;
        ++totals.frames;
        if (keepLast && totals.frames == framesWanted) keepFrame();
    }
    glutSwapBuffers();
    if (!countsAsFrame) return;
    // Kept up to date, so a run cut short by closing the window still reports.
    totals.seconds = secondsSince(runStart);
    if (frameShown) frameShown(totals.frames);
    if (totals.frames == framesWanted) glutLeaveMainLoop();
}

}  // namespace

void startTimedemo(long frames, bool keepLastFrame, std::function<void(long)> afterFrame) {
    framesWanted = frames;
    framesStepped = 0;
    keepLast = keepLastFrame;
    frameShown = std::move(afterFrame);
    totals = TimedemoTotals();
    glutIdleFunc(timedemoIdle);
    glutDisplayFunc(timedemoDisplay);
}

const TimedemoTotals& timedemoTotals() { return totals; }

void printTimedemoReport(std::ostream& out, const TimedemoTotals& t, bool culling, bool terrainOnly) {
    const double frames = t.frames > 0 ? static_cast<double>(t.frames) : 1.0;
    const double fps = t.seconds > 0 ? t.frames / t.seconds : 0.0;
    out << std::fixed << std::setprecision(3) << "timedemo: " << t.frames << " frames in "
        << t.seconds << " s, " << std::setprecision(1) << fps
        << " frames per second (terrain culling " << (culling ? "on" : "off")
        << (terrainOnly ? ", terrain only" : "") << ")\n"
        << std::setprecision(3) << "timedemo: world step " << 1000.0 * t.stepSeconds / frames
        << " ms, frame drawing " << 1000.0 * t.drawSeconds / frames << " ms, of it "
        << 1000.0 * t.drawCpuSeconds / frames << " ms on the main thread (means per frame)"
        << std::endl;
}

#include "game/timedemo.h"

#include <gtest/gtest.h>

#include <sstream>

TEST(Timedemo, ReportGivesFramesPerSecondAndMeanMillisecondsPerFrame) {
    TimedemoTotals totals;
    totals.frames = 400;
    totals.seconds = 8.0;
    totals.stepSeconds = 0.2;
    totals.drawSeconds = 6.0;
    totals.drawCpuSeconds = 2.0;
    std::ostringstream out;
    printTimedemoReport(out, totals, true, false);
    EXPECT_EQ(out.str(),
              "timedemo: 400 frames in 8.000 s, 50.0 frames per second (terrain culling on)\n"
              "timedemo: world step 0.500 ms, frame drawing 15.000 ms, of it 5.000 ms on the main thread (means "
              "per frame)\n");
}

TEST(Timedemo, ReportOfARunCutShortDividesByNothing) {
    std::ostringstream out;
    printTimedemoReport(out, TimedemoTotals(), false, true);
    EXPECT_EQ(out.str(),
              "timedemo: 0 frames in 0.000 s, 0.0 frames per second (terrain culling off, terrain only)\n"
              "timedemo: world step 0.000 ms, frame drawing 0.000 ms, of it 0.000 ms on the main thread (means "
              "per frame)\n");
}

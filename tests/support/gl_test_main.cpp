#include <GL/freeglut.h>
#include <gtest/gtest.h>

#include "support/gl_context.h"

// Mesa's driver is loaded and unloaded behind our back, so LeakSanitizer sees
// its allocations as leaks from an unknown module that no suppression can
// name. The game never frees its objects anyway; leaks are checked in the
// suites that run without a display.
extern "C" const char* __asan_default_options() { return "detect_leaks=0"; }

int main(int argc, char** argv) {
    ::testing::InitGoogleTest(&argc, argv);
    glutInit(&argc, argv);
    glutInitDisplayMode(GLUT_RGB | GLUT_DOUBLE | GLUT_DEPTH);
    glutInitWindowSize(testgl::kWidth, testgl::kHeight);
    glutCreateWindow("test context");
    return RUN_ALL_TESTS();
}

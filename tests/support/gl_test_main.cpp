#include <GL/freeglut.h>
#include <gtest/gtest.h>

#include "support/gl_context.h"

int main(int argc, char** argv) {
    ::testing::InitGoogleTest(&argc, argv);
    glutInit(&argc, argv);
    glutInitDisplayMode(GLUT_RGB | GLUT_DOUBLE | GLUT_DEPTH);
    glutInitWindowSize(testgl::kWidth, testgl::kHeight);
    glutCreateWindow("test context");
    return RUN_ALL_TESTS();
}

#pragma once

// GLUT idle callback: reads the frame clock and advances the world by the elapsed time.
void idle();

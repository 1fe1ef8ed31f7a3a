#pragma once

// GLUT input callbacks. Every key event ends with a redisplay request.
void keyboard(unsigned char key, int x, int y);
void special(int key, int x, int y);
void mouse(int button, int state, int x, int y);
void motion(int x, int y);

// Leaves the GLUT main loop; main then prints "normal exit" and returns 0.
void quitGame();

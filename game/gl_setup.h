#pragma once

// The OpenGL state the game runs with: blue clear colour matching the fog, so
// distant terrain fades into the background.
void initGlState();

// GLUT reshape callback: viewport and a provisional perspective projection.
void reshape(int width, int height);

#pragma once

// GLUT display callback: draws one frame and swaps the buffers.
void display();

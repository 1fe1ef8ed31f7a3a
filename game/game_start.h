#pragma once

#include <string>
#include <vector>

// Opens the game's window and sets up the game in it, as a player gets it:
// the heap kept for the renderer's per-frame blocks, the valley from the pictures in the working directory, the scene light,
// the player at the west end looking east, the scenario from in.conf, the
// radar, the overlay text and the GLUT callbacks. What is left to the caller
// is the main loop. glutArgs are GLUT's own options (GLUT may take some out).
void startGame(const char* programName, std::vector<std::string>& glutArgs);

#pragma once

// GLUT display callback: draws one frame and swaps the buffers.
void display();

// The whole frame, left in the back buffer: the 3D scene from the player's
// vessel, then the overlay (score label, radar, carried chain, centre dot,
// score list and help screen when switched on).
void drawFrame();

// On (the default): only the terrain tiles near and in front of the viewer are
// drawn. Off: all of them, for measuring what the culling saves.
void setTerrainCulling(bool on);

// On (the default): objects wholly outside the view volume are left out. Off:
// every object is drawn, the reference for the picture the culling must not change.
void setObjectCulling(bool on);

// On: a frame is the clear, the camera and the terrain alone, without objects
// and overlay: the bare cost the whole frame is measured against. Off: the default.
void setTerrainOnly(bool on);

// Overlay coordinates span x 0..kOverlayWidth and y 0..1 over the whole window.
constexpr double kOverlayWidth = 1.333333;

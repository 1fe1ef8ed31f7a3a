#pragma once

// GLUT idle callback: reads the frame clock and advances the world by the
// time gathered since it last moved, as worldStepMs allows; otherwise it only
// asks for a redisplay.
void idle();

// The frame time dt for `gathered` whole milliseconds since the world last
// moved: 0 (wait) below 10, so that frames within a clock tick do not steer the
// enemies on every call, and at most 100, so that a stalled process does not
// move the world in one giant step.
unsigned worldStepMs(unsigned long gathered);

// One frame of the game after the clock has been read: every moving thing
// proposes its displacement, the terrain and the walls clip it, contacts are
// resolved one at a time in time order (taking, delivering and scoring happen
// in the objects' responses), the rest of the motion is applied, vessels that
// touched the terrain or a wall stop, the radar follows the player, the
// enemies steer, and a redisplay is requested. Needs the player, the terrain
// and a current GLUT window; the radar is fed only when it exists.
void stepWorld(unsigned dt);

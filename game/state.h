#pragma once

#include <deque>
#include <string>

#include "game/collision_records.h"
#include "game/vector3.h"

namespace tide {
class Viewpoint;
class Heightmap;
class Light;
class Radar;
class Fonts;
class submarine;
class enemy;
class ball;
class Finish;
class bullet;
class mrObject;
}  // namespace tide

// The game state shared by the GLUT callbacks. Everything runs on the one
// thread of the GLUT main loop, so nothing here needs locking. The queues hold
// non-owning pointers: objects live until the process ends (bullets excepted).
extern tide::Viewpoint* player;
extern tide::Heightmap* terrain;
extern tide::Light* light;
extern tide::Radar* radar;
extern tide::Fonts* hudFonts;
extern std::string* hudText;

extern std::deque<tide::submarine*> enemies;
extern std::deque<tide::ball*> balls;
extern std::deque<tide::Finish*> finishes;
extern std::deque<tide::bullet*> bullets;

extern std::deque<tide::collisionTransporter*> collisionRecords;
extern std::deque<tide::exactCollisionTransporter> exactCollisions;
extern std::deque<tide::enemy*> idleEnemies;
extern std::deque<tide::mrObject*> enemyTargets;

extern bool showScoreList;
extern bool showHelp;
extern bool bigMap;
extern bool showTerrain;

// Frame clock in milliseconds of wall time (see game/frame_clock.h).
extern unsigned long previousTick;
extern unsigned long currentTick;

extern double samplesPerUnit;
extern Vector3 boundaryPoints[2];
extern Vector3 boundaryNormals[2];

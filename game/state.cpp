#include "game/state.h"

tide::Viewpoint* player = nullptr;
tide::Heightmap* terrain = nullptr;
tide::Light* light = nullptr;
tide::Radar* radar = nullptr;
tide::Fonts* hudFonts = nullptr;
std::string* hudText = nullptr;

std::deque<tide::submarine*> enemies;
std::deque<tide::ball*> balls;
std::deque<tide::Finish*> finishes;
std::deque<tide::bullet*> bullets;

std::deque<tide::collisionTransporter*> collisionRecords;
std::deque<tide::exactCollisionTransporter> exactCollisions;
std::deque<tide::enemy*> idleEnemies;
std::deque<tide::mrObject*> enemyTargets;

bool showScoreList = false;
bool showHelp = false;
bool bigMap = false;
bool showTerrain = true;

unsigned long previousTick = 0;
unsigned long currentTick = 0;

double samplesPerUnit = 1.0;
Vector3 boundaryPoints[2];
Vector3 boundaryNormals[2];

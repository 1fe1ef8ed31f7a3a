#pragma once

#include <deque>

#include "game/collision_records.h"
#include "game/vector3.h"

// Collision geometry of the update step: every moving thing is a sphere that
// sweeps along a straight motion during one frame.

// The part of `motion` that the sphere can make before it touches the terrain.
Vector3 terrainSweep(Vector3 position, Vector3 motion, double radius);

// The part of `motion` that the sphere can make before it touches one of the
// world's walls (x = 0, x = extent x, z = 0, z = extent z).
Vector3 wallClip(Vector3 position, Vector3 motion, double radius);

// True when the two infinite lines of motion pass within the sum of the radii;
// parallel or standing spheres always pass.
bool linesPass(Vector3 positionA, Vector3 motionA, double radiusA, Vector3 positionB, Vector3 motionB,
               double radiusB);

// Appends a candidate event for every pair of records (in grid space) whose lines
// of motion pass, among the pairs the broad phase finds near each other (every
// pair when it is off); true when `events` is not empty afterwards.
bool findCollisions(std::deque<tide::collisionTransporter*>* records,
                    std::deque<tide::exactCollisionTransporter>* events);

// Sets the contact time of each event (records from the global collisionRecords)
// and returns the index of the earliest event within the remaining motion, or -1.
int earliestCollision(std::deque<tide::exactCollisionTransporter>* events);

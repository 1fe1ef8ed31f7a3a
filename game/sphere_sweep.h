#pragma once

#include <optional>

#include "game/vector3.h"

// Where a sphere of radius `radius`, whose centre moves from `position` by
// `motion`, first touches a plane or a triangle. Shared by the wall clip and
// the terrain sweep.

// The centre at the moment the sphere touches the plane through `planePoint`
// with normal `planeNormal`, on the side of the plane where the sphere starts.
// The time is not limited to the motion: it may lie behind the start or beyond.
Vector3 sweepToPlane(Vector3 position, Vector3 motion, double radius, Vector3 planePoint, Vector3 planeNormal);

// The centre at the sphere's earliest contact with the solid triangle a, b, c:
// its face, its three edges or its three corners. The triangle faces along
// (b - a) x (c - a) and is met only by a sphere not moving away from its
// plane. As with sweepToPlane, a sphere that already sinks into the triangle
// gets the contact behind its start; one that merely grazes an edge or a
// corner, or is leaving it, gets none. Among contacts the one nearest to
// `position` wins. Edges and corners are not tried when the sphere cannot
// reach the plane before the time `within` (a fraction of the motion), which
// spares most of the work when a nearer contact is known already; the caller
// decides which contacts lie within the motion.
std::optional<Vector3> sweepToTriangle(Vector3 position, Vector3 motion, double radius, const Vector3& a,
                                       const Vector3& b, const Vector3& c, double within = 1.0);

#include "game/sphere_sweep.h"

#include <cmath>

namespace {

// A contact with an edge or a corner counts only when the sphere would sink
// into it deeper than this share of the radius squared: a sphere resting on
// the ground and sliding past a corner of its own face touches it only by
// rounding and must not stop there.
constexpr double kGrazeShare = 1e-9;

// The squared distance of the centre from a point or a line, less r^2, is
// a t^2 + 2 halfB t + c over the time t. Returns the time the sphere starts to
// sink in, when it is closing in (so it may lie before t = 0 for a sphere
// that already overlaps and goes deeper).
std::optional<double> entryTime(double a, double halfB, double c, double radiusSquared) {
    if (!(a > 0.0) || !(halfB < 0.0)) return std::nullopt;  // parallel to the line, or moving away
    const double disc = halfB * halfB - a * c;
    if (!(disc > kGrazeShare * radiusSquared * a)) return std::nullopt;
    return (-halfB - std::sqrt(disc)) / a;
}

std::optional<double> cornerTime(const Vector3& p, const Vector3& d, double radiusSquared, const Vector3& corner) {
    const Vector3 w = p - corner;
    return entryTime(d.dot(d), w.dot(d), w.dot(w) - radiusSquared, radiusSquared);
}

// Contact with the edge's line, kept only where it lies between the corners
// (beyond them the corners decide).
std::optional<double> edgeTime(const Vector3& p, const Vector3& d, double radiusSquared, const Vector3& from,
                               const Vector3& to) {
    const Vector3 e = to - from;
    const double lengthSquared = e.dot(e);
    if (!(lengthSquared > 0.0)) return std::nullopt;
    const Vector3 w = p - from;
    const Vector3 wAcross = w - e * (w.dot(e) / lengthSquared);
    const Vector3 dAcross = d - e * (d.dot(e) / lengthSquared);
    const std::optional<double> t =
        entryTime(dAcross.dot(dAcross), wAcross.dot(dAcross), wAcross.dot(wAcross) - radiusSquared, radiusSquared);
    if (!t) return std::nullopt;
    const double along = (w + d * *t).dot(e);
    if (along < 0.0 || along > lengthSquared) return std::nullopt;
    return t;
}

void keepNearer(std::optional<double>& best, std::optional<double> t) {
    if (t && (!best || std::fabs(*t) < std::fabs(*best))) best = t;
}

}  // namespace

Vector3 sweepToPlane(Vector3 position, Vector3 motion, double radius, Vector3 planePoint, Vector3 planeNormal) {
    // The centre touches the plane shifted by the radius towards the start's side.
    const Vector3 offset = planeNormal * radius;
    const Vector3 touching = (position - planePoint).dot(planeNormal) < 0.0 ? planePoint - offset
                                                                             : planePoint + offset;
    const double speed = planeNormal.dot(motion);
    const double t = speed == 0.0 ? 1.0 : (planeNormal.dot(touching) - planeNormal.dot(position)) / speed;
    return position + motion * t;
}

std::optional<Vector3> sweepToTriangle(Vector3 position, Vector3 motion, double radius, const Vector3& a,
                                       const Vector3& b, const Vector3& c, double within) {
    const Vector3 n = cross(b - a, c - a).normalized();
    const double speed = n.dot(motion);
    if (speed > 0.0) return std::nullopt;

    // Over the face: the plane contact, when the centre lies within all three edges.
    const Vector3 m = sweepToPlane(position, motion, radius, c, n);
    if (cross(b - a, m - a).dot(n) >= 0.0 && cross(c - b, m - b).dot(n) >= 0.0 &&
        cross(a - c, m - c).dot(n) >= 0.0) {
        return m;
    }
    // Edges and corners lie in the plane: they are within reach only while the
    // sphere is within one radius of it, some time before `within`.
    const double height = n.dot(position - a);
    if (!(height + radius > 0.0) || !(height - radius < -speed * within)) return std::nullopt;

    const double rr = radius * radius;
    std::optional<double> best;
    keepNearer(best, edgeTime(position, motion, rr, a, b));
    keepNearer(best, edgeTime(position, motion, rr, b, c));
    keepNearer(best, edgeTime(position, motion, rr, c, a));
    keepNearer(best, cornerTime(position, motion, rr, a));
    keepNearer(best, cornerTime(position, motion, rr, b));
    keepNearer(best, cornerTime(position, motion, rr, c));
    if (!best) return std::nullopt;
    return position + motion * *best;
}

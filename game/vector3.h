#pragma once

#include <cmath>

// The game's one geometric value: positions, directions and displacements in
// world units, y up. Any three doubles are valid, not-a-number included.
class Vector3 {
public:
    double x = 0.0;
    double y = 0.0;
    double z = 0.0;

    Vector3() = default;
    Vector3(double x_, double y_, double z_) : x(x_), y(y_), z(z_) {}

    Vector3& operator+=(const Vector3& b) { x += b.x; y += b.y; z += b.z; return *this; }
    Vector3& operator-=(const Vector3& b) { x -= b.x; y -= b.y; z -= b.z; return *this; }
    Vector3& operator/=(double s) { x /= s; y /= s; z /= s; return *this; }

    Vector3 operator+(const Vector3& b) const { return {x + b.x, y + b.y, z + b.z}; }
    Vector3 operator-(const Vector3& b) const { return {x - b.x, y - b.y, z - b.z}; }
    Vector3 operator*(double s) const { return {x * s, y * s, z * s}; }
    Vector3 operator/(double s) const { return {x / s, y / s, z / s}; }

    double dot(double bx, double by, double bz) const { return x * bx + y * by + z * bz; }
    double dot(const Vector3& b) const { return dot(b.x, b.y, b.z); }
    double length() const { return std::sqrt(dot(*this)); }

    // A zero vector has no direction; it stays zero rather than becoming not-a-number.
    void normalize() {
        const double len = length();
        if (len != 0.0) *this /= len;
    }
    Vector3 normalized() const {
        Vector3 copy = *this;
        copy.normalize();
        return copy;
    }

    // Exact comparison: the game relies on it, e.g. to recognise (0, 0, 0) as "no contact".
    bool equals(double bx, double by, double bz) const { return x == bx && y == by && z == bz; }
    bool operator!=(const Vector3& b) const { return !equals(b.x, b.y, b.z); }
};

inline Vector3 cross(const Vector3& a, const Vector3& b) {
    return {a.y * b.z - a.z * b.y, a.z * b.x - a.x * b.z, a.x * b.y - a.y * b.x};
}

// Degrees at every interface; radians only inside trigonometry.
constexpr double kDegreesToRadians = 3.141592653589793 / 180.0;

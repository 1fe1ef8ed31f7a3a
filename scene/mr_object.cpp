#include "scene/mr_object.h"

#include <algorithm>
#include <cmath>
#include <limits>

namespace tide {

namespace {

constexpr double kGravity = 9.81;
constexpr double kNeutralBuoyancy = 4.905;  // each tank balances half the gravity
constexpr double kSpeedStep = 0.05;
constexpr double kTankStep = 0.05;
constexpr double kTankPitch = 2.5;
constexpr double kTurnStep = 2.5;

// Degrees about y that turn the model's -x axis onto the direction d. A
// direction longer than unit (or not a number) is clamped, so the heading
// stays a number whatever the caller passes.
double headingFor(const Vector3& d) {
    double x = std::isnan(d.x) ? 0.0 : std::clamp(d.x, -1.0, 1.0);
    const double a = std::asin(x) / kDegreesToRadians;
    return d.z > 0 ? 90.0 + a : 270.0 - a;
}

}  // namespace

mrObject::mrObject(Vector3 p, Vector3 d, double r)
    : position(p), previousPosition(p), direction(d) {
    setTranslation(p.x, p.y, p.z);
    heading = headingFor(d);
    setInnerRotation(heading, 0, 1, 0);
    resetBuoyancy();
    resetSpeeds();
    radius = r;
    maxSpeed = 0.0;
}

double mrObject::drawnReach() const { return std::numeric_limits<double>::infinity(); }

collisionTransporter mrObject::collide(collisionTransporter own, collisionTransporter) {
    // The empty record, still naming its owner: a null owner would tell the
    // update step that the object has left the world.
    collisionTransporter empty;
    empty.owner = own.owner;
    empty.id = own.id;
    empty.radius = own.radius;
    return empty;
}

void mrObject::moveBy(Vector3 d) {
    position += d;
    setTranslation(position.x, position.y, position.z);
}

void mrObject::setPositionTo(Vector3 p) {
    position = p;
    setTranslation(p.x, p.y, p.z);
}

Vector3 mrObject::displacement(unsigned dt) {
    previousPosition = position;
    Vector3 d = direction * (forwardSpeed - backwardSpeed) * dt / 1000.0;
    d -= Vector3(0, 1, 0) * (gravity - buoyancyA - buoyancyB) * dt / 1000.0;
    return d;
}

void mrObject::accelerate() {
    if (netSpeed() >= maxSpeed) return;
    if (forwardSpeed < backwardSpeed) {
        backwardSpeed -= kSpeedStep;
    } else {
        forwardSpeed += kSpeedStep;
    }
}

void mrObject::decelerate() {
    if (netSpeed() <= -maxSpeed / 2) return;
    if (backwardSpeed < forwardSpeed) {
        forwardSpeed -= kSpeedStep;
    } else {
        backwardSpeed += kSpeedStep;
    }
}

void mrObject::resetSpeeds() { forwardSpeed = backwardSpeed = 1.0; }

void mrObject::resetBuoyancy() {
    gravity = kGravity;
    buoyancyA = buoyancyB = kNeutralBuoyancy;
}

void mrObject::resetMotion() {
    resetBuoyancy();
    resetSpeeds();
}

// A tank fills or empties only inside a band of maxSpeed / 3 around neutral.
void mrObject::raiseTank(double& tank, double pitchAngle) {
    if (gravity > tank && tank < maxSpeed / 3 + kNeutralBuoyancy) tank += kTankStep;
    pitch(pitchAngle);
}

void mrObject::lowerTank(double& tank, double pitchAngle) {
    if (tank >= kTankStep && tank > kNeutralBuoyancy - maxSpeed / 3) tank -= kTankStep;
    pitch(pitchAngle);
}

void mrObject::raiseA() { raiseTank(buoyancyA, kTankPitch); }
void mrObject::raiseB() { raiseTank(buoyancyB, -kTankPitch); }
void mrObject::lowerA() { lowerTank(buoyancyA, -kTankPitch); }
void mrObject::lowerB() { lowerTank(buoyancyB, kTankPitch); }

void mrObject::ascend() {
    if (gravity > buoyancyB && gravity > buoyancyA) {
        raiseB();
        raiseA();
    }
}

void mrObject::descend() {
    if (buoyancyB >= kTankStep && buoyancyA >= kTankStep) {
        lowerB();
        lowerA();
    }
}

void mrObject::pitch(double angle) {
    const double a = angle * kDegreesToRadians;
    const double y = direction.y;
    const double z = direction.z;
    direction.y = std::cos(a) * y - std::sin(a) * z;
    direction.z = std::sin(a) * y + std::cos(a) * z;
}

void mrObject::turnLeft() { turnBy(kTurnStep); }
void mrObject::turnRight() { turnBy(-kTurnStep); }

// The same sense as glRotated(angle, 0, 1, 0), so model and direction stay in step.
void mrObject::turnBy(double angle) {
    const double a = angle * kDegreesToRadians;
    const double x = direction.x;
    const double z = direction.z;
    direction.x = std::cos(a) * x + std::sin(a) * z;
    direction.z = std::cos(a) * z - std::sin(a) * x;
    heading += angle;
    setInnerRotation(heading, 0, 1, 0);
}

}  // namespace tide

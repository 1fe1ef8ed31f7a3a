#pragma once

#include "game/collision_records.h"
#include "game/vector3.h"
#include "scene/object.h"

namespace tide {

// Kind codes the update step and the collision responses dispatch on.
enum : int { kKindBullet = 2, kKindSubmarine = 3, kKindBall = 4, kKindFinish = 5 };

// A movable drawable object: position, direction of travel, heading and the
// speed and buoyancy quantities of the movement model. Models face -x in their
// own space; the heading turns them onto the direction of travel.
class mrObject : public rObject {
public:
    mrObject(Vector3 position, Vector3 direction, double radius);

    void reset() override {}
    virtual collisionTransporter collide(collisionTransporter own, collisionTransporter other);
    // How far from its position anything draw() shows can lie (an mrObject is
    // placed by its position and heading alone), so that the frame can leave
    // out objects outside the view. A model of unknown size reaches
    // everywhere and is always drawn.
    virtual double drawnReach() const;

    Vector3 getPosition() const { return position; }
    Vector3 getPreviousPosition() const { return previousPosition; }
    Vector3 getDirection() const { return direction; }
    double getRadius() const { return radius; }
    int getKind() const { return kind; }
    double getHeading() const { return heading; }
    double netSpeed() const { return forwardSpeed - backwardSpeed; }
    double netLift() const { return buoyancyA + buoyancyB - gravity; }
    void setTransporter(collisionTransporter* t) { transporter = t; }
    collisionTransporter* getTransporter() const { return transporter; }

    void moveBy(Vector3 d);
    void setPositionTo(Vector3 p);

    // The move this step would make; only previousPosition changes.
    Vector3 displacement(unsigned dt);
    void accelerate();
    void decelerate();
    void resetSpeeds();
    void resetBuoyancy();
    void resetMotion();
    void raiseA();
    void raiseB();
    void lowerA();
    void lowerB();
    void ascend();
    void descend();
    void pitch(double angle);
    void turnLeft();
    void turnRight();
    void turnBy(double angle);

protected:
    double maxSpeed;
    double radius;
    double gravity;
    double buoyancyA;
    double buoyancyB;
    double forwardSpeed;
    double backwardSpeed;
    double heading;
    collisionTransporter* transporter = nullptr;
    Vector3 position;
    Vector3 previousPosition;
    Vector3 direction;
    int kind = 0;  // set by each concrete class's reset

private:
    void raiseTank(double& tank, double pitchAngle);
    void lowerTank(double& tank, double pitchAngle);
};

}  // namespace tide

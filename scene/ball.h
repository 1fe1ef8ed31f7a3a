#pragma once

#include <deque>
#include <memory>

#include "scene/mr_object.h"

namespace tide {

class Sphere;
class submarine;

// A ball lying in the world or riding in a vessel's chain. Its value is also
// its colour: 16 x red + green, each 0..15. Delivered balls and balls knocked
// out of a chain go back to where they started, so the supply never runs out.
class ball : public mrObject {
public:
    ball(Vector3 position, Vector3 direction, int value, std::deque<ball*>* homeList);
    ~ball() override;

    void reset() override;
    void compile() override;
    collisionTransporter collide(collisionTransporter own, collisionTransporter other) override;
    double drawnReach() const override;

    // Back to the start position and to the end of the world's ball list.
    void returnHome();
    // Called by the carrier when it takes the ball into its chain.
    void attachTo(submarine* newCarrier, int chainIndex);

    int getValue() const { return value; }
    bool isAttached() const { return attached != 0; }
    int getIndex() const { return index; }
    submarine* getCarrier() const { return carrier; }
    Vector3 getHome() const { return home; }

private:
    std::deque<ball*>* homeList;  // not owned
    submarine* carrier = nullptr;
    Vector3 home;
    int index = 0;  // in the carrier's chain, or in homeList after going home
    int value;
    int attached = 0;
    std::unique_ptr<Sphere> model;
};

}  // namespace tide

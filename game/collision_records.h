#pragma once

#include <deque>

#include "game/vector3.h"

namespace tide {

class mrObject;

// One moving object during one frame: a sphere at `position` with `motion`
// still to make. Built by the update step, handed to the collision responses
// by value, deleted at the end of the frame.
struct collisionTransporter {
    Vector3 position{0, 0, 0};
    Vector3 motion{0, 0, 0};
    double radius = 0.0;
    mrObject* owner = nullptr;  // null after a response means: the object left the world
    int id = 0;                 // index in the owner's own queue; -1 for the player
    std::deque<collisionTransporter*> hits;
    bool blocked = false;       // the terrain or a wall shortened the motion this frame

    // The empty record, returned by responses for pairs that carry no meaning.
    collisionTransporter() = default;
    collisionTransporter(Vector3 position_, Vector3 motion_, double radius_, int id_, mrObject* owner_)
        : position(position_), motion(motion_), radius(radius_), owner(owner_), id(id_) {}
};

// A candidate contact between two records, named by their indices in the
// frame's record list; `time` is filled in by the earliest-contact search.
struct exactCollisionTransporter {
    int first = 0;
    int second = 0;
    double time = 0.0;

    exactCollisionTransporter(int first_, int second_) : first(first_), second(second_) {}
};

}  // namespace tide

#pragma once

#include <deque>
#include <memory>

#include "scene/submarine.h"

namespace tide {

class Ship;

// A computer-steered vessel. It heads for one target at a time, a ball to
// fetch or a finish cube to deliver at, using the same controls as the player.
class enemy : public submarine {
public:
    enemy(Vector3 position, Vector3 direction, int tag);
    ~enemy() override;

    // The model with the carried chain trailing behind it.
    void compile() override;
    void onTaken(mrObject* thing) override;
    double drawnReach() const override;

    // Steers for one time step; false when there is no target.
    bool step(unsigned dt);
    // Picks a ball or a finish from the candidates (free balls, then finishes).
    // Carrying 10 or more, or carrying some when no ball is free, it heads for
    // a finish. The target stays null when there is nothing of the kind.
    void chooseTarget(std::deque<mrObject*>* candidates);

    mrObject* getTarget() const { return target; }
    void setTarget(mrObject* t) { target = t; }
    int getTag() const { return tag; }

private:
    // Whether the terrain shortens the next step's displacement.
    bool wayBlocked(unsigned dt);

    mrObject* target = nullptr;  // not owned
    int tag;
    std::unique_ptr<Ship> model;
};

}  // namespace tide

#pragma once

#include <cstddef>
#include <deque>
#include <memory>
#include <sstream>
#include <string>

#include "scene/mr_object.h"

namespace tide {

class ball;
class Fonts;

// A vessel (the player's or an enemy): carries a chain of collected balls,
// delivers it at a finish cube for score, and shows that score as a red label.
class submarine : public mrObject {
public:
    submarine(Vector3 position, Vector3 direction, double radius);
    ~submarine() override;

    void reset() override;
    collisionTransporter collide(collisionTransporter own, collisionTransporter other) override;
    // Told about a ball taken or a finish delivered at.
    virtual void onTaken(mrObject*) {}

    // Appends the ball to the chain; the caller recompiles the vessel.
    void take(ball* b);
    // Sends the ball at chain index i and all behind it home.
    void dropFrom(int i);

    void addScore(int n) { score += n; }
    int getScore() const { return score; }
    void updateScoreLabel();
    // Places the label's first character (length - 1) x 0.03 overlay units
    // left of x.
    void drawScoreLabel(double x, double y);
    // The chain in a row behind the vessel, first taken nearest.
    void drawCarried();
    // How far from the vessel's origin the chain drawCarried() draws reaches.
    double carriedReach() const;

    int carriedCount() const { return static_cast<int>(carried.size()); }
    // Walks the chain; a position rather than an iterator, so taking a ball
    // on the way leaves the walk defined.
    void firstCarried() { walkCursor = 0; }
    ball* nextCarried() { return walkCursor < carried.size() ? carried[walkCursor++] : nullptr; }

private:
    void alignWith(const Vector3& ownMotion, const Vector3& otherMotion);
    void deliver(mrObject* finish);

    std::size_t walkCursor = 0;
    std::unique_ptr<Fonts> scoreLabel;
    std::string labelText;
    std::ostringstream labelStream;
    int labelLength = 0;
    int score = 0;
    std::deque<ball*> carried;  // the balls are not owned
};

}  // namespace tide

#include "scene/submarine.h"

#include <GL/gl.h>

#include <algorithm>
#include <cmath>

#include "scene/ball.h"
#include "world/fonts.h"

namespace tide {

namespace {
constexpr double kSubmarineMaxSpeed = 2.0;
constexpr double kChainGap = 0.001;
constexpr double kAlignTolerance = 1e-9;
constexpr double kLabelCharacterStep = 0.03;  // overlay units
}  // namespace

submarine::submarine(Vector3 position, Vector3 direction, double radius)
    : mrObject(position, direction, radius) {
    submarine::reset();
}

submarine::~submarine() = default;

void submarine::reset() {
    score = 0;
    carried.clear();
    walkCursor = carried.size();
    scoreLabel = std::make_unique<Fonts>();
    labelStream.str("");
    labelText.clear();
    scoreLabel->setText(&labelText);
    scoreLabel->setColour(1, 0, 0);
    updateScoreLabel();
    maxSpeed = kSubmarineMaxSpeed;
    kind = kKindSubmarine;
}

void submarine::take(ball* b) {
    b->attachTo(this, static_cast<int>(carried.size()));
    b->setPositionTo(Vector3(0, 0, 0));  // a carried ball is drawn relative to its carrier
    carried.push_back(b);
    onTaken(b);
}

void submarine::dropFrom(int i) {
    if (i < 0) return;
    const auto from = carried.begin() + std::min<std::size_t>(static_cast<std::size_t>(i), carried.size());
    for (auto it = from; it != carried.end(); ++it) (*it)->returnHome();
    carried.erase(from, carried.end());
    walkCursor = carried.size();
    compile();
}

void submarine::updateScoreLabel() {
    labelStream.str("");
    labelStream << score;
    labelText = labelStream.str();
    scoreLabel->compile();
    labelLength = static_cast<int>(labelText.size());
}

void submarine::drawScoreLabel(double x, double y) {
    glPushMatrix();
    scoreLabel->setTranslation(x - (labelLength - 1) * kLabelCharacterStep, y, 0);
    scoreLabel->draw();
    glPopMatrix();
}

void submarine::drawCarried() {
    glPushMatrix();
    glRotated(-90, 0, 1, 0);
    glTranslated(0, 0, kChainGap - radius);
    for (ball* b : carried) {
        glTranslated(0, 0, -(2 * b->getRadius() + kChainGap));
        b->draw();
    }
    glPopMatrix();
}

double submarine::carriedReach() const {
    double along = std::fabs(kChainGap - radius);
    double reach = 0.0;
    for (const ball* b : carried) {
        along += 2 * b->getRadius() + kChainGap;
        reach = std::max(reach, along + b->drawnReach());
    }
    return reach;
}

collisionTransporter submarine::collide(collisionTransporter own, collisionTransporter other) {
    switch (other.owner->getKind()) {
        case kKindBullet:
            dropFrom(static_cast<int>(carried.size()) - 1);  // lose the last ball, if any
            return own;
        case kKindSubmarine:
            alignWith(own.motion, other.motion);
            return own;
        case kKindBall: {
            auto* b = static_cast<ball*>(other.owner);
            if (!b->isAttached()) {
                take(b);
                compile();
            }
            return own;
        }
        case kKindFinish:
            deliver(other.owner);
            return own;
        default:
            return mrObject::collide(own, other);
    }
}

// After touching another vessel, turn onto its line of travel. A vessel at
// rest has no line of travel, so then nothing turns.
void submarine::alignWith(const Vector3& u, const Vector3& v) {
    const double lengths = u.length() * v.length();
    if (!(lengths > 0.0) || !std::isfinite(lengths)) return;
    // Rounding can push the cosine just past +-1, where acos has no value.
    const double cosine = std::clamp(u.dot(v) / lengths, -1.0, 1.0);
    const double angle = std::acos(cosine) / kDegreesToRadians;
    const double a = angle * kDegreesToRadians;
    const Vector3 turned =
        Vector3(std::cos(a) * direction.x + std::sin(a) * direction.z, direction.y,
                std::cos(a) * direction.z - std::sin(a) * direction.x) * v.length();
    const bool positiveSense = std::fabs(turned.x - v.x) < kAlignTolerance &&
                               std::fabs(turned.y - v.y) < kAlignTolerance &&
                               std::fabs(turned.z - v.z) < kAlignTolerance;
    turnBy(positiveSense ? angle : -angle);
}

void submarine::deliver(mrObject* finish) {
    for (ball* b : carried) addScore(b->getValue());
    updateScoreLabel();
    dropFrom(0);
    onTaken(finish);
}

}  // namespace tide

#include "scene/enemy.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>

#include "game/collision.h"
#include "scene/ship.h"

namespace tide {

namespace {
constexpr double kEnemyRadius = 0.4;
constexpr double kShipSize = 5.0;
constexpr double kWideTurn = 5.0;
constexpr double kFineTurn = 2.5;
constexpr double kWideAngle = 25.0;
constexpr double kOnCourseAngle = 2.5;
constexpr double kBlockedTolerance = 1e-9;
// Carrying this many balls or more, the draw in chooseTarget has no modulus left.
constexpr int kChainLimit = 10;

mrObject* firstOfKind(const std::deque<mrObject*>& candidates, int kind) {
    const auto first = std::find_if(candidates.begin(), candidates.end(),
                                    [kind](mrObject* c) { return c->getKind() == kind; });
    return first == candidates.end() ? nullptr : *first;
}
}  // namespace

enemy::enemy(Vector3 position, Vector3 direction, int tag_)
    : submarine(position, direction, kEnemyRadius), tag(tag_), model(std::make_unique<Ship>(kShipSize)) {
    children.push_back(model.get());
    model->setInnerScale(0.2, 0.1, 0.1);
    model->compile();
    compile();
}

enemy::~enemy() = default;

void enemy::compile() {
    compileComposite([this] { drawCarried(); });
}

double enemy::drawnReach() const {
    return scaledReach(std::max(model->placedReach(model->reach()), carriedReach()));
}

void enemy::onTaken(mrObject* thing) {
    if (thing == target) target = nullptr;
}

bool enemy::wayBlocked(unsigned dt) {
    const Vector3 d = displacement(dt);
    const Vector3 s = terrainSweep(position, d, radius);
    const double shortfall = d.dot(d) - s.dot(s);
    return shortfall > kBlockedTolerance || shortfall < -kBlockedTolerance;
}

bool enemy::step(unsigned dt) {
    if (target == nullptr) return false;
    const Vector3 t = target->getPosition() - position;

    // Steering in the horizontal plane, always in the positive sense until on
    // course, then back the other way.
    const double h = t.x * direction.x + t.z * direction.z;
    if (h <= 0) {
        turnBy(kWideTurn);
    } else {
        // Rounding can push the cosine just past 1, where acos has no value.
        const double cosine =
            h / std::sqrt((t.x * t.x + t.z * t.z) * (direction.x * direction.x + direction.z * direction.z));
        const double a = std::acos(std::min(cosine, 1.0)) / kDegreesToRadians;
        if (a >= kWideAngle) {
            turnBy(kWideTurn);
        } else if (a <= kOnCourseAngle) {
            turnBy(-kFineTurn);
        } else {
            turnBy(kFineTurn);
        }
    }

    if (wayBlocked(dt)) {
        resetBuoyancy();
        ascend();
        if (wayBlocked(dt)) resetSpeeds();
        return true;
    }
    const Vector3 e = direction.normalized();
    const Vector3 u = t.normalized();
    const Vector3 d = displacement(dt);
    if (d.dot(d) == 0) {
        ascend();  // at rest: lift off first
        return true;
    }
    if (u.y < e.y) {
        descend();
        if (wayBlocked(dt)) ascend();
    } else {
        ascend();
    }
    accelerate();
    return true;
}

void enemy::chooseTarget(std::deque<mrObject*>* candidates) {
    const int n = carriedCount();
    const int r = std::rand();
    // The more it carries, the less often it heads for a finish; from 7 to 9
    // never, and from 10 on always, so that no enemy keeps balls out of play.
    const bool wantsFinish = n >= kChainLimit || (n > 0 && r % (kChainLimit - n) > 2);
    target = firstOfKind(*candidates, wantsFinish ? kKindFinish : kKindBall);
    // With no free ball left, one that carries some delivers them rather than wait.
    if (target == nullptr && !wantsFinish && n > 0) target = firstOfKind(*candidates, kKindFinish);
    std::rand();  // the pick among the choices found, of which there is only the first
}

}  // namespace tide

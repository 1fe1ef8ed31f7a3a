#include "scene/ball.h"

#include "scene/sphere.h"
#include "scene/submarine.h"

namespace tide {

namespace {
constexpr double kBallRadius = 0.075;
}  // namespace

ball::ball(Vector3 position, Vector3 direction, int value_, std::deque<ball*>* homeList_)
    : mrObject(position, direction, kBallRadius), homeList(homeList_), home(position), value(value_),
      model(std::make_unique<Sphere>()) {
    children.push_back(model.get());
    model->setInnerScale(kBallRadius);
    model->setColourAll(value / 16 / 15.0, (value % 16) / 15.0, 0);
    model->compile();
    ball::reset();
}

ball::~ball() = default;

void ball::reset() {
    kind = kKindBall;
    attached = 0;
}

void ball::compile() { compileComposite(); }

double ball::drawnReach() const { return scaledReach(model->placedReach(Sphere::kRadius)); }

collisionTransporter ball::collide(collisionTransporter own, collisionTransporter other) {
    switch (other.owner->getKind()) {
        case kKindBullet:
            // A shot breaks the chain here: this ball and all behind it go home.
            if (attached) {
                carrier->dropFrom(index);
                own.position = position;
                own.id = index;
            }
            return own;
        case kKindSubmarine:
            // The vessel's response ran first and took the ball; a null owner
            // tells the update step that it left the world.
            if (!attached) {
                own.owner = nullptr;
                attached = 1;
            }
            return own;
        case kKindFinish:
            return own;
        default:
            return mrObject::collide(own, other);
    }
}

void ball::returnHome() {
    setPositionTo(home);
    index = static_cast<int>(homeList->size());
    homeList->push_back(this);
    attached = 0;
}

void ball::attachTo(submarine* newCarrier, int chainIndex) {
    carrier = newCarrier;
    index = chainIndex;
}

}  // namespace tide

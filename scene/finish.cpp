#include "scene/finish.h"

#include "scene/cuboid.h"

namespace tide {

namespace {
constexpr double kFinishRadius = 0.3;
}  // namespace

Finish::Finish(Vector3 position, Vector3 direction)
    : mrObject(position, direction, kFinishRadius), model(std::make_unique<Cuboid>()) {
    Finish::reset();
    children.push_back(model.get());
    model->setInnerScale(kFinishRadius, kFinishRadius, kFinishRadius);
    model->setColourAll(1, 1, 0);
    model->compile();
}

Finish::~Finish() = default;

void Finish::reset() { kind = kKindFinish; }

void Finish::compile() { compileComposite(); }

double Finish::drawnReach() const { return scaledReach(model->placedReach(Cuboid::kReach)); }

collisionTransporter Finish::collide(collisionTransporter own, collisionTransporter other) {
    const int otherKind = other.owner->getKind();
    if (otherKind >= 1 && otherKind <= kKindFinish) return own;
    return mrObject::collide(own, other);
}

}  // namespace tide

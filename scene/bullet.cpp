#include "scene/bullet.h"

namespace tide {

bullet::bullet(Vector3 position, Vector3 direction, double radius) : mrObject(position, direction, radius) {
    bullet::reset();
}

void bullet::reset() { kind = kKindBullet; }

}  // namespace tide

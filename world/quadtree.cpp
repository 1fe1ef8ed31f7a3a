#include "world/quadtree.h"

#include <GL/gl.h>

#include <algorithm>
#include <cassert>
#include <cmath>

#include "world/frustum.h"

namespace tide {

Quadtree::Quadtree(double p0x, double p0z, double p1x, double p1z, double p2x, double p2z,
                   double p3x, double p3z, int listName)
    : isLeaf_(true), listName_(listName) {
    setUp(p0x, p0z, p1x, p1z, p2x, p2z, p3x, p3z, 1.0);
}

Quadtree::Quadtree(double p0x, double p0z, double p1x, double p1z, double p2x, double p2z,
                   double p3x, double p3z) {
    // Twice the distance from the centre to one child's centre is the group's
    // half diagonal when the four children are equal rectangles.
    setUp(p0x, p0z, p1x, p1z, p2x, p2z, p3x, p3z, 2.0);
}

Quadtree::~Quadtree() {
    for (Quadtree* child : children_) delete child;
}

void Quadtree::setUp(double p0x, double p0z, double p1x, double p1z, double p2x, double p2z,
                     double p3x, double p3z, double multiplier) {
    centreX_ = (p0x + p1x + p2x + p3x) / 4.0;
    centreZ_ = (p0z + p1z + p2z + p3z) / 4.0;
    boundRadius_ = std::hypot(p0x - centreX_, p0z - centreZ_) * multiplier;
    low_[0] = std::min({p0x, p1x, p2x, p3x});
    high_[0] = std::max({p0x, p1x, p2x, p3x});
    low_[2] = std::min({p0z, p1z, p2z, p3z});
    high_[2] = std::max({p0z, p1z, p2z, p3z});
}

void Quadtree::setHeightRange(double low, double high) {
    low_[1] = low;
    high_[1] = high;
    hasBox_ = true;
}

void Quadtree::setChild(int slot, Quadtree* node) {
    static constexpr int kSlotToChild[4] = {0, 2, 1, 3};
    if (slot < 1 || slot > 4) return;
    Quadtree*& child = children_[kSlotToChild[slot - 1]];
    if (child != node) delete child;
    child = node;
}

int Quadtree::draw(double viewerX, double viewerZ, double lookX, double lookZ, const Frustum* view) const {
    const double dx = centreX_ - viewerX;
    const double dz = centreZ_ - viewerZ;
    // A tile is in range when r^2 > d^2 - range^2. An inner node is in range
    // when its circle reaches within the view range: the tiles' own test would
    // let a large node fail where one of its small tiles passes, and whole
    // quadrants a few units away went missing.
    const double squared = dx * dx + dz * dz;
    const double reach = kViewRange + boundRadius_;
    const bool inRange = isLeaf_ ? boundRadius_ * boundRadius_ > squared - kViewRange * kViewRange
                                 : squared < reach * reach;
    // Keeps every node whose circle reaches into the half-plane ahead of the viewer.
    const bool inFront = lookX * dx + lookZ * dz + boundRadius_ * (lookX * lookX + lookZ * lookZ) > 0.0;
    if (!inRange || !inFront) return 0;

    if (isLeaf_) {
        if (listName_ == 0) return 0;
        if (view != nullptr && hasBox_ && !view->mayShow(low_, high_)) return 0;
        glPushMatrix();
        glCallList(static_cast<GLuint>(listName_));
        glPopMatrix();
        return 1;
    }
    int drawn = 0;
    for (int i : {0, 3, 1, 2}) {
        if (children_[i] != nullptr) drawn += children_[i]->draw(viewerX, viewerZ, lookX, lookZ, view);
    }
    return drawn;
}

void mergeLevels(std::vector<Quadtree*>& nodes, int perSide) {
    assert(perSide > 0 && (perSide & (perSide - 1)) == 0 &&
           nodes.size() == static_cast<std::size_t>(perSide) * perSide);
    for (int n = perSide; n > 1; n /= 2) {
        std::vector<Quadtree*> next;
        next.reserve(static_cast<std::size_t>(n / 2) * (n / 2));
        for (int i = 0; i < n / 2; ++i) {
            for (int j = 0; j < n / 2; ++j) {
                Quadtree* group[4] = {nodes[(2 * i) * n + 2 * j], nodes[(2 * i) * n + 2 * j + 1],
                                      nodes[(2 * i + 1) * n + 2 * j], nodes[(2 * i + 1) * n + 2 * j + 1]};
                auto* parent = new Quadtree(group[0]->centreX(), group[0]->centreZ(), group[1]->centreX(),
                                            group[1]->centreZ(), group[2]->centreX(), group[2]->centreZ(),
                                            group[3]->centreX(), group[3]->centreZ());
                for (int slot = 1; slot <= 4; ++slot) parent->setChild(slot, group[slot - 1]);
                next.push_back(parent);
            }
        }
        nodes.swap(next);
    }
}

}  // namespace tide

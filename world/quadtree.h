#pragma once

#include <vector>

namespace tide {

class Frustum;

// A node of the terrain's tile tree. Each node is summarised by a circle in the
// ground plane (x, z) so that a whole subtree can be skipped with one distance
// test and one dot product. Leaves call the display list of one terrain tile.
// A node owns its children: deleting the root frees the tree.
class Quadtree {
public:
    // Leaf for one tile; the four points are the tile's corners
    // (x0, z1), (x1, z0), (x1, z1), (x0, z0). A list name of 0 marks an empty
    // tile that only pads the tree to a power of two: it draws nothing.
    Quadtree(double p0x, double p0z, double p1x, double p1z, double p2x, double p2z,
             double p3x, double p3z, int listName);
    // Inner node from the centres of the four nodes it groups, in the order
    // (r, c), (r, c + 1), (r + 1, c), (r + 1, c + 1).
    Quadtree(double p0x, double p0z, double p1x, double p1z, double p2x, double p2z,
             double p3x, double p3z);
    ~Quadtree();
    Quadtree(const Quadtree&) = delete;
    Quadtree& operator=(const Quadtree&) = delete;

    // Slots 1..4 take the nodes (r, c), (r, c + 1), (r + 1, c), (r + 1, c + 1);
    // other slot numbers are ignored. The node takes ownership of `node`.
    void setChild(int slot, Quadtree* node);

    // The lowest and highest points of a leaf's tile, which make its circle's
    // rectangle a box for the view volume test.
    void setHeightRange(double low, double high);

    double centreX() const { return centreX_; }
    double centreZ() const { return centreZ_; }
    double boundRadius() const { return boundRadius_; }

    // Calls the lists of the tiles whose circles reach within the view range and
    // are not wholly behind the viewer; returns how many tiles were drawn. A node
    // is drawn whenever one of its tiles would be. The look vector is used as
    // given, unnormalised; a zero look vector draws nothing. With a view volume,
    // a tile that passes is also skipped when its box lies outside that volume.
    int draw(double viewerX, double viewerZ, double lookX, double lookZ, const Frustum* view = nullptr) const;

    static constexpr double kViewRange = 18.0;

private:
    void setUp(double p0x, double p0z, double p1x, double p1z, double p2x, double p2z,
               double p3x, double p3z, double multiplier);

    double centreX_ = 0.0;
    double centreZ_ = 0.0;
    double boundRadius_ = 0.0;
    bool isLeaf_ = false;
    int listName_ = 0;
    // A leaf's box, x, y, z; without a height range it is never tested.
    bool hasBox_ = false;
    double low_[3] = {0.0, 0.0, 0.0};
    double high_[3] = {0.0, 0.0, 0.0};
    // (r, c), (r + 1, c), (r, c + 1), (r + 1, c + 1) of the level below.
    Quadtree* children_[4] = {nullptr, nullptr, nullptr, nullptr};
};

// Groups a square level of nodes, listed row by row with `perSide` nodes per
// row (a power of two), four by four into new levels until one root is left;
// `nodes` then holds only the root. The old nodes live on as children.
void mergeLevels(std::vector<Quadtree*>& nodes, int perSide);

}  // namespace tide

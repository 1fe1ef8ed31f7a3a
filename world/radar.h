#pragma once

#include <deque>

#include "game/vector3.h"
#include "scene/object.h"

namespace tide {

class Polygon;
class ball;
class Finish;

// Heading-up map of the valley in the 2D overlay, centred on the player: the
// terrain picture as a square map, a red arrow for the player, a diamond in its
// own colour for each ball lying in the world and a yellow one for each finish.
// The map turns about the radar's origin so the direction of travel points up.
class Radar : public rObject {
public:
    // A picture of zero width or height (one that failed to load) gives an
    // empty map; the arrow and the markers are still shown. unitScale turns
    // world units along z into map units (1 / the terrain's z extent); the
    // samples-per-unit factor is accepted for the callers' sake but not needed.
    Radar(int textureId, int pictureWidth, int pictureHeight, double samplesPerUnit,
          double unitScale, std::deque<ball*>* balls, std::deque<Finish*>* finishes);
    ~Radar() override;

    void compile() override;
    void reset() override;

    // Vertical first, then horizontal: where the origin sits before the outer scale.
    void setPlacement(double y, double x);
    void setHeading(Vector3 d);
    void setCentre(Vector3 p);

    // The two sizes the game switches between: bottom left, and in the middle.
    void useSmallMap();
    void useBigMap();

    // Where the radar's origin, the player's place, lies in the overlay.
    double originX() const { return placementX * outerScale[0]; }
    double originY() const { return placementY * outerScale[1]; }
    Polygon* map() const { return mapQuad; }
    Polygon* playerArrow() const { return arrow; }
    double centreOffsetU() const { return offsetU; }
    double centreOffsetV() const { return offsetV; }
    // The map's rotation in degrees: the heading's angle from +x towards +z.
    double headingAngle() const;

private:
    // Map and markers sit this far below the radar's origin.
    static constexpr double kCentreDrop = 0.0075;

    void drawMarker(const Vector3& at) const;

    double offsetV = 0.0;
    double offsetU = 0.0;
    Polygon* mapQuad = nullptr;
    Polygon* arrow = nullptr;
    double unitScale;
    double placementY = 0.0;
    double placementX = 0.0;
    double headingX = 1.0;
    double headingZ = 0.0;
    // Exact width / height of the picture, shared by the map and the markers so
    // they line up whatever the picture's proportions; 1 without a picture.
    double aspect;
    // The map quad's scale across (world z) and up (world x); the markers share it.
    double mapScaleU = 1.0;
    double mapScaleV = 1.0;
    std::deque<ball*>* balls;
    std::deque<Finish*>* finishes;
};

}  // namespace tide

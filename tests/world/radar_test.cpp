#include "world/radar.h"

#include <GL/gl.h>
#include <gtest/gtest.h>

#include <cmath>
#include <deque>
#include <memory>
#include <vector>

#include "scene/ball.h"
#include "scene/finish.h"
#include "scene/polygon.h"
#include "support/gl_context.h"
#include "support/lit_region.h"

using tide::Radar;
using testgl::Rgb;

namespace {

constexpr double kOverlayWidth = 1.333333;
constexpr Rgb kBlack{0, 0, 0};
constexpr Rgb kRed{255, 0, 0};
constexpr Rgb kGreen{0, 255, 0};
constexpr Rgb kBlue{0, 0, 255};
constexpr Rgb kYellow{255, 255, 0};

// The shipped valley: 512 x 256 pixels, 80 x 40 world units.
constexpr int kPictureWidth = 512;
constexpr int kPictureHeight = 256;
constexpr double kUnitScale = 1.0 / 40;
const Vector3 kValleyMiddle(40, 5, 20);

int pixelX(double overlayX) { return static_cast<int>(std::floor(overlayX * testgl::kWidth / kOverlayWidth)); }
int pixelY(double overlayY) { return static_cast<int>(std::floor(overlayY * testgl::kHeight)); }

// A picture whose first half of columns (world x near 0) is blue and second half green.
GLuint halfAndHalfTexture(int width, int height) {
    std::vector<unsigned char> rgb;
    for (int row = 0; row < height; ++row) {
        for (int col = 0; col < width; ++col) {
            const Rgb c = col < width / 2 ? kBlue : kGreen;
            rgb.insert(rgb.end(), {c.r, c.g, c.b});
        }
    }
    GLuint id = 0;
    glGenTextures(1, &id);
    glBindTexture(GL_TEXTURE_2D, id);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, GL_NEAREST);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, GL_NEAREST);
    glPixelStorei(GL_UNPACK_ALIGNMENT, 1);
    glTexImage2D(GL_TEXTURE_2D, 0, GL_RGB, width, height, 0, GL_RGB, GL_UNSIGNED_BYTE, rgb.data());
    return id;
}

// The overlay as the frame sets it up, over black, unlit, with the depth test.
class RadarTest : public ::testing::Test {
protected:
    void SetUp() override {
        testgl::resetState();
        glEnable(GL_DEPTH_TEST);
        glMatrixMode(GL_PROJECTION);
        glOrtho(0, kOverlayWidth, 0, 1, 0, 2);
        glMatrixMode(GL_MODELVIEW);
    }

    void TearDown() override {
        for (tide::ball* b : balls) delete b;
        for (tide::Finish* f : finishes) delete f;
        if (texture != 0) glDeleteTextures(1, &texture);
    }

    std::unique_ptr<Radar> makeRadar(int width = kPictureWidth, int height = kPictureHeight,
                                     double unitScale = kUnitScale) {
        texture = halfAndHalfTexture(width > 0 ? width : 2, height > 0 ? height : 1);
        return std::make_unique<Radar>(static_cast<int>(texture), width, height, 6.4, unitScale,
                                       &balls, &finishes);
    }

    void addBall(Vector3 at, int value) {
        balls.push_back(new tide::ball(at, Vector3(1, 0, 0), value, &balls));
    }

    // What the update step does each frame, then the frame's draw.
    void show(Radar& radar, Vector3 heading, Vector3 player = kValleyMiddle) {
        radar.setHeading(heading);
        radar.setCentre(player);
        radar.compile();
        radar.draw();
    }

    Rgb pixelAtOverlay(double x, double y) { return testgl::pixelAt(pixelX(x), pixelY(y)); }

    std::deque<tide::ball*> balls;
    std::deque<tide::Finish*> finishes;
    GLuint texture = 0;
};

double degreesMod360(double a) {
    const double m = std::fmod(a, 360.0);
    return m < 0 ? m + 360.0 : m;
}

}  // namespace

TEST_F(RadarTest, SmallAndBigMapsSitAtTheirPlaces) {
    auto radar = makeRadar();
    radar->useSmallMap();
    EXPECT_DOUBLE_EQ(radar->outerScale[0], 0.4);
    EXPECT_NEAR(radar->originX(), 0.079998, 1e-12);
    EXPECT_NEAR(radar->originY(), 0.06, 1e-12);
    radar->useBigMap();
    EXPECT_DOUBLE_EQ(radar->outerScale[0], 1.0);
    EXPECT_NEAR(radar->originX(), 0.66665, 1e-12);
    EXPECT_NEAR(radar->originY(), 0.5, 1e-12);
}

TEST_F(RadarTest, PlayerInTheValleyMiddlePutsTheMapCentreJustBelowTheOrigin) {
    auto radar = makeRadar();
    radar->useBigMap();
    show(*radar, Vector3(1, 0, 0));

    EXPECT_DOUBLE_EQ(radar->centreOffsetV(), -0.5);
    EXPECT_DOUBLE_EQ(radar->centreOffsetU(), -0.5);
    const double* t = radar->map()->translation;
    EXPECT_NEAR(t[0], 0.0, 1e-12);
    EXPECT_NEAR(t[1], -0.0075, 1e-12);
    EXPECT_DOUBLE_EQ(t[2], -0.2);

    // The picture's first half of columns (world x below 40) lies below the
    // centre line, 0.0075 under the origin; away from the arrow.
    const double x = 0.66665 - 0.05;
    EXPECT_EQ(pixelAtOverlay(x, 0.5 - 0.0075 - 0.006), kBlue);
    EXPECT_EQ(pixelAtOverlay(x, 0.5 - 0.0075 + 0.006), kGreen);
    // The map is half as wide as high (the picture's proportions) and ends there.
    EXPECT_EQ(pixelAtOverlay(0.66665 - 0.24, 0.3), kBlue);
    EXPECT_EQ(pixelAtOverlay(0.66665 - 0.26, 0.3), kBlack);
    EXPECT_EQ(pixelAtOverlay(0.66665 + 0.24, 0.7), kGreen);
    EXPECT_EQ(pixelAtOverlay(0.66665 + 0.26, 0.7), kBlack);
}

TEST_F(RadarTest, ArrowPointsUpForEveryHeading) {
    auto radar = makeRadar(0, 0);  // no map behind the arrow
    // Five times the big map, so the arrow is large enough to tell up from down.
    radar->setOuterScale(5.0);
    radar->setPlacement(0.1, 0.13333);
    const int cx = pixelX(radar->originX());
    const int cy = pixelY(radar->originY());
    for (int degrees = 0; degrees < 360; degrees += 30) {
        SCOPED_TRACE(degrees);
        const double a = degrees * kDegreesToRadians;
        glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
        show(*radar, Vector3(std::cos(a), 0, std::sin(a)));
        EXPECT_NEAR(degreesMod360(radar->playerArrow()->innerRotation[0] + radar->headingAngle()), 0.0, 1e-9);
        EXPECT_EQ(testgl::pixelAt(cx, cy + 30), kRed) << "tip side";
        EXPECT_EQ(testgl::pixelAt(cx, cy - 30), kBlack) << "below the base";
    }
}

TEST_F(RadarTest, WhatLiesAheadShowsStraightAboveTheArrowForEveryHeading) {
    auto radar = makeRadar();
    radar->useBigMap();
    radar->map()->disableTexture();  // the green half of the map would hide the marker
    for (int degrees = 0; degrees < 360; degrees += 45) {
        SCOPED_TRACE(degrees);
        const double a = degrees * kDegreesToRadians;
        const Vector3 heading(std::cos(a), 0, std::sin(a));
        addBall(kValleyMiddle + heading * 8.0, 15);  // 8 units ahead: 0.1 up on the map
        glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
        show(*radar, heading);
        const testgl::LitRegion marker = testgl::regionOfColour(kGreen);
        ASSERT_GT(marker.count, 10);
        EXPECT_NEAR(marker.centreX, 320.0, 4.0);
        EXPECT_NEAR(marker.centreY, 240.0 + 48.0, 4.0);
        delete balls.back();
        balls.pop_back();
    }
}

TEST_F(RadarTest, HeadingAlongTheZAxisTurnsTheMapAQuarter) {
    auto radar = makeRadar();
    radar->setHeading(Vector3(0, 0, 1));
    EXPECT_DOUBLE_EQ(radar->headingAngle(), 90.0);
    radar->setHeading(Vector3(0, 0, -1));
    EXPECT_DOUBLE_EQ(radar->headingAngle(), -90.0);
    radar->setHeading(Vector3(-1, 0, 0));
    EXPECT_DOUBLE_EQ(degreesMod360(radar->headingAngle()), 180.0);
    radar->setHeading(Vector3(0, 0, 0));  // no heading at all still gives a number
    EXPECT_FALSE(std::isnan(radar->headingAngle()));
}

TEST_F(RadarTest, MarkersTakeTheBallsValueColourAndFinishesAreYellow) {
    auto radar = makeRadar();
    radar->useBigMap();
    // Heading +x: world x runs up the map, world z to the right; 8 units are 0.1.
    addBall(Vector3(48, 5, 20), 255);
    addBall(Vector3(40, 5, 28), 15);
    addBall(Vector3(32, 5, 20), 240);
    finishes.push_back(new tide::Finish(Vector3(40, 5, 12), Vector3(1, 0, 0)));
    radar->map()->disableTexture();
    show(*radar, Vector3(1, 0, 0));
    const double ox = 0.66665, oy = 0.5 - 0.0075;
    EXPECT_EQ(pixelAtOverlay(ox, oy + 0.1), kYellow);
    EXPECT_EQ(pixelAtOverlay(ox + 0.1, oy), kGreen);
    EXPECT_EQ(pixelAtOverlay(ox, oy - 0.1), kRed);
    EXPECT_EQ(pixelAtOverlay(ox - 0.1, oy), kYellow);
}

TEST_F(RadarTest, PictureThatFailedToLoadGivesAnEmptyMapWithMarkers) {
    auto radar = makeRadar(0, 0, 1.0 / 80);
    EXPECT_EQ(radar->children.size(), 1u);  // the arrow alone
    radar->useBigMap();
    addBall(Vector3(48, 5, 20), 15);
    show(*radar, Vector3(1, 0, 0));
    EXPECT_EQ(pixelAtOverlay(0.66665, 0.5 - 0.0075 + 0.1), kGreen);
    EXPECT_EQ(pixelAtOverlay(0.66665 + 0.2, 0.7), kBlack);  // no map
}

TEST_F(RadarTest, MarkersLineUpWithTheMapForEveryProportion) {
    // Wide, a width no whole multiple of the height, and tall; the valley is
    // `extentZ` deep and as many times wider as the picture.
    struct Case { int width, height; double extentZ; } cases[] = {{600, 256, 40}, {256, 512, 160}, {300, 900, 240}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.height);
        const double aspect = static_cast<double>(c.width) / c.height;
        const double extentX = c.extentZ * aspect;
        auto radar = makeRadar(c.width, c.height, 1.0 / c.extentZ);
        radar->useBigMap();
        addBall(Vector3(extentX, 5, c.extentZ), 15);  // the far corner of the valley
        radar->map()->disableTexture();
        glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
        show(*radar, Vector3(1, 0, 0), Vector3(extentX / 2, 5, c.extentZ / 2));
        // The map quad ends at the far corner, and the marker sits there.
        const testgl::LitRegion map = testgl::regionOfColour(testgl::pixelAt(330, 230));
        const testgl::LitRegion marker = testgl::regionOfColour(kGreen);
        ASSERT_GT(marker.count, 10);
        EXPECT_NEAR(marker.centreX, map.maxX, 2.0);
        EXPECT_NEAR(marker.centreY, map.maxY, 2.0);
        delete balls.back();
        balls.pop_back();
        glDeleteTextures(1, &texture);
        texture = 0;
    }
}

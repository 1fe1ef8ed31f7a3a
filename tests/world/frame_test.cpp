#include "world/frame.h"

#include <GL/glu.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <deque>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "game/gl_setup.h"
#include "game/state.h"
#include "scene/ball.h"
#include "scene/enemy.h"
#include "scene/finish.h"
#include "scene/viewpoint.h"
#include "support/gl_context.h"
#include "support/test_world.h"
#include "world/font_glyphs.h"
#include "world/fonts.h"
#include "world/heightmap.h"
#include "world/light.h"
#include "world/radar.h"

using testgl::Rgb;

namespace {

struct Line {
    std::string text;
    double x, y;
};

const std::vector<Line> kHelpScreen = {
    {"HELP", 0.133333, 0.9},
    {"Arrow up/Arrow down", 0.133333, 0.85},
    {"accelerate/break", 0.533332, 0.85},
    {"a/d", 0.133333, 0.8},
    {"turn left/right", 0.533332, 0.8},
    {"w/s", 0.133333, 0.75},
    {"up/down", 0.533332, 0.75},
    {"q", 0.133333, 0.7},
    {"reset forward/backward acceleration", 0.533332, 0.7},
    {"e", 0.133333, 0.65},
    {"reset up/down acceleration", 0.533332, 0.65},
    {"r", 0.133333, 0.6},
    {"reset all accelerations", 0.533332, 0.6},
    {"m", 0.133333, 0.55},
    {"toggle small/big map", 0.533332, 0.55},
    {"h", 0.133333, 0.5},
    {"this help", 0.533332, 0.5},
    {"t", 0.133333, 0.45},
    {"show scorelist", 0.533332, 0.45},
    {"ESC", 0.133333, 0.4},
    {"quit", 0.533332, 0.4},
    {"Sense of Game?", 0.133333, 0.3},
    {"As you hopefully expected, there is no deeper sense in", 0.133333, 0.25},
    {"this game. Just find the Balls marked red and green in", 0.133333, 0.2},
    {"the map and bring them to (one of) the yellow marked", 0.133333, 0.15},
    {"Finishs. There is no Point or Timelimit.", 0.133333, 0.1},
};

constexpr Rgb kBlack{0, 0, 0};
constexpr Rgb kWhite{255, 255, 255};
constexpr Rgb kRed{255, 0, 0};

bool lit(const Rgb& p) { return !(p == kBlack); }

// The game's globals for one frame: the player at its start, an empty world,
// a radar without a picture, the HUD text; unlit and unfogged, so colours are exact.
class FrameTest : public ::testing::Test {
protected:
    void SetUp() override {
        testgl::resetState();
        glEnable(GL_DEPTH_TEST);
        glPointSize(2.0f);
        ownPlayer = std::make_unique<tide::Viewpoint>(Vector3(1, 6, 10), Vector3(1, 0, 0), 0.1);
        ownRadar = std::make_unique<tide::Radar>(0, 0, 0, 1.0, 1.0 / 80, &balls, &finishes);
        ownText = std::make_unique<std::string>();
        ownFonts = std::make_unique<tide::Fonts>();
        ownFonts->setText(ownText.get());
        player = ownPlayer.get();
        radar = ownRadar.get();
        hudText = ownText.get();
        hudFonts = ownFonts.get();
        terrain = nullptr;
        showTerrain = false;
        showHelp = false;
        showScoreList = false;
    }

    void TearDown() override {
        for (tide::submarine* e : enemies) delete e;
        enemies.clear();
        for (tide::ball* b : balls) delete b;
        balls.clear();
        player = nullptr;
        radar = nullptr;
        hudText = nullptr;
        hudFonts = nullptr;
        terrain = nullptr;
        showTerrain = true;
        showHelp = false;
        showScoreList = false;
        setTerrainCulling(true);
        setObjectCulling(true);
    }

    // The same texts drawn by a font of the test's own, straight at their places.
    static std::vector<Rgb> reference(const std::vector<Line>& lines) {
        testgl::resetState();
        testgl::setOrtho(0, 1.333333, 0, 1);
        std::string text;
        tide::Fonts font;
        font.setText(&text);
        for (const Line& line : lines) {
            text = line.text;
            font.compile();
            font.setTranslation(line.x, line.y, 0);
            font.draw();
        }
        return withoutEveryFramePixels(testgl::readPixels(0, 0, testgl::kWidth, testgl::kHeight));
    }

    static std::vector<Rgb> textOfFrame() {
        testgl::resetState();
        glEnable(GL_DEPTH_TEST);
        glPointSize(2.0f);
        drawFrame();
        return withoutEveryFramePixels(testgl::readPixels(0, 0, testgl::kWidth, testgl::kHeight));
    }

    // Blanks what every frame shows: the centre dot and the player's score
    // label in the lower right corner.
    static std::vector<Rgb> withoutEveryFramePixels(std::vector<Rgb> pixels) {
        for (int x : {319, 320}) {
            for (int y : {239, 240}) pixels[static_cast<std::size_t>(y) * testgl::kWidth + x] = kBlack;
        }
        for (int y = 0; y < 30; ++y) {
            for (int x = 610; x < testgl::kWidth; ++x) pixels[static_cast<std::size_t>(y) * testgl::kWidth + x] = kBlack;
        }
        return pixels;
    }

    std::unique_ptr<tide::Viewpoint> ownPlayer;
    std::unique_ptr<tide::Radar> ownRadar;
    std::unique_ptr<std::string> ownText;
    std::unique_ptr<tide::Fonts> ownFonts;
};

int firstLitColumn(const std::vector<Rgb>& pixels, int width, int x0, int x1, int y0, int y1) {
    for (int x = x0; x < x1; ++x) {
        for (int y = y0; y < y1; ++y) {
            if (lit(pixels[static_cast<std::size_t>(y) * width + x])) return x;
        }
    }
    return -1;
}

// Leftmost lit column and lowest lit row of a glyph, from the font's own table.
int glyphLeftColumn(char c) {
    int left = 8;
    for (int row = 0; row < tide::kGlyphRows; ++row) {
        const unsigned char bits = tide::glyphBitmaps[c - tide::kFirstGlyph][row];
        for (int col = 0; col < 8; ++col) {
            if (bits & (0x80 >> col)) left = std::min(left, col);
        }
    }
    return left;
}
int glyphBottomRow(char c) {
    for (int row = 0; row < tide::kGlyphRows; ++row) {
        if (tide::glyphBitmaps[c - tide::kFirstGlyph][row] != 0) return row;
    }
    return tide::kGlyphRows;
}

}  // namespace

TEST_F(FrameTest, CentreDotIsWhiteInTheMiddleOfTheWindow) {
    drawFrame();
    for (int x : {319, 320}) {
        for (int y : {239, 240}) EXPECT_EQ(testgl::pixelAt(x, y), kWhite) << x << "," << y;
    }
    EXPECT_EQ(testgl::pixelAt(322, 240), kBlack);
    EXPECT_EQ(testgl::pixelAt(320, 237), kBlack);
}

TEST_F(FrameTest, HelpScreenShowsEveryLineAtItsPlace) {
    showHelp = true;
    const std::vector<Rgb> frame = textOfFrame();
    EXPECT_TRUE(frame == reference(kHelpScreen));

    // Each line's first glyph starts at its (x, y): x at the glyph's left edge,
    // y on the baseline, two rows above the glyph's bottom row.
    for (const Line& line : kHelpScreen) {
        SCOPED_TRACE(line.text);
        const int x = static_cast<int>(std::floor(line.x * testgl::kWidth / 1.333333));
        const int y = static_cast<int>(std::lround(line.y * testgl::kHeight));
        const char c = line.text[0];
        const int found = firstLitColumn(frame, testgl::kWidth, x - 3, x + 8, y - 3, y + 12);
        EXPECT_NEAR(found, x + glyphLeftColumn(c), 1);
        int bottom = -1;
        for (int row = y - 4; row < y + 12 && bottom < 0; ++row) {
            for (int col = x; col < x + 8; ++col) {
                if (lit(frame[static_cast<std::size_t>(row) * testgl::kWidth + col])) {
                    bottom = row;
                    break;
                }
            }
        }
        EXPECT_NEAR(bottom, y - 2 + glyphBottomRow(c), 1);
    }

    showHelp = false;
    const std::vector<Rgb> hidden = textOfFrame();
    EXPECT_TRUE(std::none_of(hidden.begin(), hidden.end(), lit));
}

TEST_F(FrameTest, ScoreListShowsThePlayerThenEachEnemyNumbered) {
    showScoreList = true;
    player->addScore(272);
    EXPECT_TRUE(textOfFrame() == reference({{"SCORE", 0.266666, 0.9}, {"YOU", 0.266666, 0.85}, {"272", 0.933331, 0.85}}));

    const int scores[] = {10, 0, 7};
    for (int score : scores) {
        auto* e = new tide::submarine(Vector3(5, 5, 5), Vector3(1, 0, 0), 0.3);
        e->addScore(score);
        enemies.push_back(e);
    }
    EXPECT_TRUE(textOfFrame() == reference({{"SCORE", 0.266666, 0.9},
                                         {"YOU", 0.266666, 0.85},
                                         {"272", 0.933331, 0.85},
                                         {"1", 0.266666, 0.8},
                                         {"10", 0.933331, 0.8},
                                         {"2", 0.266666, 0.75},
                                         {"0", 0.933331, 0.75},
                                         {"3", 0.266666, 0.7},
                                         {"7", 0.933331, 0.7}}));
}

TEST_F(FrameTest, ScoreLabelEndsAtTheLowerRightCorner) {
    drawFrame();
    const std::vector<Rgb> band = testgl::readPixels(0, 0, testgl::kWidth, 30);
    int left = testgl::kWidth, right = -1, bottom = 30;
    for (int y = 0; y < 30; ++y) {
        for (int x = 0; x < testgl::kWidth; ++x) {
            if (!(band[static_cast<std::size_t>(y) * testgl::kWidth + x] == kRed)) continue;
            left = std::min(left, x);
            right = std::max(right, x);
            bottom = std::min(bottom, y);
        }
    }
    // The score 0 in red, its one glyph in the cell that starts at x 1.2833333
    // (pixel 616), on the baseline at y 0.025 (pixel 12).
    EXPECT_EQ(left, 616 + glyphLeftColumn('0'));
    EXPECT_LT(right, 616 + 8);
    EXPECT_EQ(bottom, 12 - 2 + glyphBottomRow('0'));
}

TEST_F(FrameTest, CameraLooksFromThePlayerAlongItsDirection) {
    balls.push_back(new tide::ball(Vector3(2, 6, 10), Vector3(1, 0, 0), 240, &balls));   // ahead
    balls.push_back(new tide::ball(Vector3(0, 6, 10.5), Vector3(1, 0, 0), 15, &balls));  // behind
    for (tide::ball* b : balls) b->compile();
    drawFrame();
    EXPECT_EQ(testgl::pixelAt(330, 250), kRed);
    const std::vector<Rgb> all = testgl::readPixels(0, 0, testgl::kWidth, testgl::kHeight);
    EXPECT_EQ(std::count(all.begin(), all.end(), Rgb{0, 255, 0}), 0);
}

TEST_F(FrameTest, LeavesTheMatricesReadyForTheNextFrame) {
    showHelp = true;
    showScoreList = true;
    drawFrame();
    GLint mode = 0;
    glGetIntegerv(GL_MATRIX_MODE, &mode);
    EXPECT_EQ(mode, GL_MODELVIEW);
    GLdouble modelView[16], projection[16], perspective[16];
    glGetDoublev(GL_MODELVIEW_MATRIX, modelView);
    glGetDoublev(GL_PROJECTION_MATRIX, projection);
    glMatrixMode(GL_PROJECTION);
    glLoadIdentity();
    gluPerspective(90, 1.3333, 0.01, 50);
    glGetDoublev(GL_PROJECTION_MATRIX, perspective);
    glMatrixMode(GL_MODELVIEW);
    for (int i = 0; i < 16; ++i) {
        EXPECT_DOUBLE_EQ(modelView[i], i % 5 == 0 ? 1.0 : 0.0) << i;
        EXPECT_NEAR(projection[i], perspective[i], 1e-6) << i;
    }
}

TEST_F(FrameTest, WithoutCullingEveryTileIsDrawnEvenOutOfRange) {
    // A flat 80 x 40 valley, 10 units high, seen from 30 units beyond its x = 0
    // edge and 20 units above it: the near part shows in the lower half.
    const int width = 64, height = 32;
    const std::vector<unsigned char> depth(width * height, 8);
    const std::vector<unsigned char> colour(width * height * 3, 200);
    tide::Heightmap ground;
    ground.buildTerrain(depth.data(), colour.data(), width, height);
    terrain = &ground;
    showTerrain = true;
    player->setPositionTo(Vector3(-30, 30, 20));

    // Rows 40 to 199: above the score label, below the centre dot.
    drawFrame();
    const std::vector<Rgb> culled = testgl::readPixels(0, 40, testgl::kWidth, 160);
    EXPECT_TRUE(std::none_of(culled.begin(), culled.end(), lit)) << "tiles beyond range are skipped";

    setTerrainCulling(false);
    drawFrame();
    const std::vector<Rgb> all = testgl::readPixels(0, 40, testgl::kWidth, 160);
    EXPECT_GT(std::count_if(all.begin(), all.end(), lit), 10000);
}

// Leaving out the objects outside the view volume must not change a pixel: the
// game's fog, with enemies (their backs, where the ship's cone and the chain of
// balls are, turned inwards) swept from just inside to well beyond the right
// edge of the view and balls beyond the left one, high above the valley, then
// a crowd all round it, near, in the fog and beyond where it is opaque. The light comes
// from the viewer's side, so that the normal the objects leave, which lights
// the overlay's text, shows in the score label.
TEST_F(FrameTest, LeavingOutObjectsOutsideTheViewChangesNoPixel) {
    const auto valley = testworld::InstalledTerrain::shippedValley(GAME_DATA_DIR);
    if (!valley) GTEST_SKIP() << "the shipped valley pictures are missing";
    initGlState();
    tide::Light::setUpSceneLight();
    const GLfloat fromTheViewer[4] = {0.3f, 0.6f, 1.0f, 0.0f};
    glLightfv(GL_LIGHT0, GL_POSITION, fromTheViewer);
    showTerrain = true;
    showScoreList = true;

    // Looking along +x, the view's right (side 1, world +z) and left (side -1)
    // edges lie 1.3333 units across per unit ahead.
    const Vector3 eye(5, 40, 20);
    const double across = 1.3333;
    const auto inwards = [across](int side) { return Vector3(across, 0, -side).normalized(); };
    const auto beyondTheEdge = [&](int side, double ahead, double beyond, double height) {
        return Vector3(eye.x + ahead, eye.y + height, eye.z + side * across * ahead) - inwards(side) * beyond;
    };
    std::vector<tide::ball*> carried;
    for (int i = 0; i < 24; ++i) {
        // Chains on odd ones; the bare ships' cones and rings near the edge.
        const double beyond = i % 2 == 1 ? 0.03 * i : 0.36 + 0.012 * i;
        auto* e = new tide::enemy(beyondTheEdge(1, 1.5 + 0.3 * i, beyond, -0.3), inwards(1) * -1.0, i);
        for (int n = 0; i % 2 == 1 && n < i / 3; ++n) {
            carried.push_back(new tide::ball(Vector3(0, 0, 0), Vector3(1, 0, 0), 240, &balls));
            e->take(carried.back());
        }
        enemies.push_back(e);
        balls.push_back(new tide::ball(beyondTheEdge(-1, 2.0, 0.0035 * i - 0.005, 0.16 * (i - 12)), Vector3(1, 0, 0),
                                       16 * (i % 16) + 15 - i % 16, &balls));
    }
    std::mt19937 random(5);
    std::uniform_real_distribution<double> x(0, 80), y(1, 14), z(0, 40), turn(0, 360);
    for (int i = 0; i < 66; ++i) {
        const Vector3 at(x(random), y(random), z(random));
        if (i % 11 > 0) {
            balls.push_back(new tide::ball(at, Vector3(1, 0, 0), i * 3, &balls));
        } else {
            enemies.push_back(new tide::enemy(at, Vector3(1, 0, 0), 100 + i));
            enemies.back()->turnBy(turn(random));
        }
    }
    for (tide::ball* b : carried) b->compile();
    for (tide::ball* b : balls) b->compile();
    for (tide::submarine* e : enemies) e->compile();
    finishes.push_back(new tide::Finish(Vector3(14, 5, 12), Vector3(1, 0, 0)));
    finishes.back()->compile();

    // Eye and look direction: along the sweep, then across the crowd.
    const Vector3 views[][2] = {{eye, Vector3(1, 0, 0)},
                                {Vector3(1, 6, 10), Vector3(1, 0, 0)},
                                {Vector3(40, 8, 20), Vector3(0.6, 0, 0.8)},
                                {Vector3(20, 3, 30), Vector3(-0.3, 0.9, 0.4).normalized()},
                                {Vector3(60, 5, 5), Vector3(-1, 0.1, -0.05).normalized()}};
    for (const auto& view : views) {
        ownPlayer = std::make_unique<tide::Viewpoint>(view[0], view[1], 0.1);
        player = ownPlayer.get();
        std::vector<Rgb> pictures[2];
        for (int culled = 0; culled < 2; ++culled) {
            setObjectCulling(culled == 1);
            drawFrame();
            pictures[culled] = testgl::readPixels(0, 0, testgl::kWidth, testgl::kHeight);
        }
        EXPECT_TRUE(pictures[0] == pictures[1]) << "view from " << view[0].x << ", " << view[0].y << ", " << view[0].z;
    }

    for (tide::Finish* f : finishes) delete f;
    finishes.clear();
    for (tide::ball* b : carried) delete b;
    glDisable(GL_LIGHTING);
    glDisable(GL_FOG);
}

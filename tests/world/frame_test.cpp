#include "world/frame.h"

#include <GL/glu.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <deque>
#include <memory>
#include <string>
#include <vector>

#include "game/state.h"
#include "scene/ball.h"
#include "scene/viewpoint.h"
#include "support/gl_context.h"
#include "world/font_glyphs.h"
#include "world/fonts.h"
#include "world/heightmap.h"
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

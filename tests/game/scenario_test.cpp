#include "game/scenario.h"

#include <gtest/gtest.h>

#include <cmath>
#include <deque>
#include <fstream>
#include <sstream>
#include <string>

#include "game/collision.h"
#include "scene/ball.h"
#include "scene/enemy.h"
#include "scene/finish.h"
#include "support/temp_dir.h"
#include "support/test_world.h"

namespace {

using tide::parseScenario;
using tide::ScenarioFile;
using tide::ScenarioKind;

ScenarioFile parse(const std::string& text) {
    std::istringstream in(text);
    return parseScenario(in);
}

// --- Headers and record kinds ---

TEST(ScenarioParser, HeaderLengthFiveSixSevenSelectsBallEnemyFinish) {
    const ScenarioFile f = parse(
        "ball:\n50\n25\n255\n"
        "enemy:\n10\n20\n100\n0\n7\n"
        "finish:\n90\n80\n");
    ASSERT_EQ(f.records.size(), 3u);
    EXPECT_TRUE(f.problems.empty());

    EXPECT_EQ(f.records[0].kind, ScenarioKind::ball);
    EXPECT_EQ(f.records[0].x, 50);
    EXPECT_EQ(f.records[0].z, 25);
    EXPECT_EQ(f.records[0].number, 255);
    EXPECT_EQ(f.records[0].line, 1);

    EXPECT_EQ(f.records[1].kind, ScenarioKind::enemy);
    EXPECT_EQ(f.records[1].x, 10);
    EXPECT_EQ(f.records[1].z, 20);
    EXPECT_EQ(f.records[1].directionX, 100);
    EXPECT_EQ(f.records[1].directionZ, 0);
    EXPECT_EQ(f.records[1].number, 7);

    EXPECT_EQ(f.records[2].kind, ScenarioKind::finish);
    EXPECT_EQ(f.records[2].x, 90);
    EXPECT_EQ(f.records[2].z, 80);
    EXPECT_EQ(f.records[2].line, 11);
}

TEST(ScenarioParser, OnlyTheHeaderLengthCountsNotItsWords) {
    // "Balls:" is six characters long, so an enemy record follows.
    const ScenarioFile f = parse("Balls:\n1\n2\n3\n4\n5\nab:cd\n1\n2\n3\n");
    ASSERT_EQ(f.records.size(), 2u);
    EXPECT_EQ(f.records[0].kind, ScenarioKind::enemy);
    EXPECT_EQ(f.records[1].kind, ScenarioKind::ball);
}

TEST(ScenarioParser, HeaderOfAnyOtherLengthIsIgnoredWithItsValueLines) {
    const ScenarioFile f = parse("ball record:\n50\n25\n255\nfinish:\n1\n2\n");
    ASSERT_EQ(f.records.size(), 1u);
    EXPECT_EQ(f.records[0].kind, ScenarioKind::finish);
    EXPECT_TRUE(f.problems.empty());
}

TEST(ScenarioParser, CommentLinesWithoutColonBetweenRecordsAreSkipped) {
    const ScenarioFile f = parse(
        "# a ball near the start\n\n"
        "ball:\n5\n25\n17\n"
        "and another comment line that is much longer than twenty-nine characters\n"
        "ball:\n6\n26\n18\n");
    ASSERT_EQ(f.records.size(), 2u);
    EXPECT_EQ(f.records[1].x, 6);
    EXPECT_EQ(f.records[1].number, 18);
}

TEST(ScenarioParser, CommentWithColonOfLengthFiveStartsARecord) {
    const ScenarioFile f = parse("ab:cd\n10\n20\n30\n");
    ASSERT_EQ(f.records.size(), 1u);
    EXPECT_EQ(f.records[0].kind, ScenarioKind::ball);
}

// --- Line endings and line lengths ---

TEST(ScenarioParser, CrlfLineEndsDoNotCountInTheHeaderLength) {
    const ScenarioFile f = parse("ball:\r\n50\r\n25\r\n255\r\nfinish:\r\n90\r\n90\r\n");
    ASSERT_EQ(f.records.size(), 2u);
    EXPECT_EQ(f.records[0].kind, ScenarioKind::ball);
    EXPECT_EQ(f.records[0].number, 255);
    EXPECT_EQ(f.records[1].kind, ScenarioKind::finish);
    EXPECT_TRUE(f.problems.empty());
}

TEST(ScenarioParser, LinesLongerThan29CharactersAreReadWhole) {
    const std::string longComment(5000, '-');
    const ScenarioFile f = parse(longComment + "\nball:\n12.5 percent of the extent in x, more words\n25\n3" +
                                 std::string(100, ' ') + "\nfinish:\n1\n2\n");
    ASSERT_EQ(f.records.size(), 2u);
    EXPECT_EQ(f.records[0].x, 12.5);
    EXPECT_EQ(f.records[0].number, 3);
    EXPECT_EQ(f.records[1].kind, ScenarioKind::finish);
}

TEST(ScenarioParser, LastLineWithoutLineEndCompletesItsRecord) {
    const ScenarioFile f = parse("finish:\n1\n2");
    ASSERT_EQ(f.records.size(), 1u);
    EXPECT_EQ(f.records[0].z, 2);
}

TEST(ScenarioParser, EmptyInputGivesNothing) {
    const ScenarioFile f = parse("");
    EXPECT_TRUE(f.records.empty());
    EXPECT_TRUE(f.problems.empty());
}

// --- Bad values and truncated records ---

TEST(ScenarioParser, RecordEndingAtEndOfFileIsDroppedAndReported) {
    const ScenarioFile f = parse("finish:\n1\n2\nball:\n50\n25\n");
    ASSERT_EQ(f.records.size(), 1u);
    ASSERT_EQ(f.problems.size(), 1u);
    EXPECT_EQ(f.problems[0], "line 4: ball record ends at end of file; record skipped");
}

TEST(ScenarioParser, ValueLineWithoutNumberKeepsThePreviousValue) {
    // The numbers persist across records; an empty line also counts as a value line.
    const ScenarioFile f = parse("ball:\n40\n30\n9\nball:\nforty\n\n10\n");
    ASSERT_EQ(f.records.size(), 2u);
    EXPECT_EQ(f.records[1].x, 40);
    EXPECT_EQ(f.records[1].z, 30);
    EXPECT_EQ(f.records[1].number, 10);
    ASSERT_EQ(f.problems.size(), 2u);
    EXPECT_EQ(f.problems[0], "line 6: no number at the start of the line; the previous value is kept");
}

TEST(ScenarioParser, HundredsOfThousandsOfBadLinesKeepTwentyMessagesAndACount) {
    std::string text;
    for (int i = 0; i < 200000; ++i) text += "finish:\n\n\n";  // two empty value lines each
    const ScenarioFile f = parse(text);
    EXPECT_EQ(f.records.size(), 200000u);
    ASSERT_EQ(f.problems.size(), 21u);
    EXPECT_EQ(f.problems[19], "line 30: no number at the start of the line; the previous value is kept");
    EXPECT_EQ(f.problems[20], "399980 more problems not shown");
}

TEST(ScenarioParser, NumberOutOfTheTypesRangeKeepsThePreviousValue) {
    const ScenarioFile f = parse("enemy:\n1e400\n5\n0\n0\n99999999999999999999\n");
    ASSERT_EQ(f.records.size(), 1u);
    EXPECT_EQ(f.records[0].x, 0);
    EXPECT_EQ(f.records[0].number, 0);
    EXPECT_EQ(f.problems.size(), 2u);
}

TEST(ScenarioParser, IntegerFieldTakesTheLeadingIntegerOnly) {
    const ScenarioFile f = parse("ball:\n  7.5\n8\n12.9\n");
    ASSERT_EQ(f.records.size(), 1u);
    EXPECT_EQ(f.records[0].x, 7.5);
    EXPECT_EQ(f.records[0].number, 12);
}

TEST(ScenarioParser, PositionOutsideTheTerrainSkipsTheRecord) {
    const ScenarioFile f = parse("ball:\n101\n50\n1\nfinish:\n50\n-0.5\nfinish:\n100\n0\n");
    ASSERT_EQ(f.records.size(), 1u);
    EXPECT_EQ(f.records[0].x, 100);
    ASSERT_EQ(f.problems.size(), 2u);
    EXPECT_EQ(f.problems[0], "line 1: ball x 101 is outside 0..100 %; record skipped");
    EXPECT_EQ(f.problems[1], "line 5: finish z -0.5 is outside 0..100 %; record skipped");
}

TEST(ScenarioParser, BallValueOutsideTheColourCodeSkipsTheRecord) {
    const ScenarioFile f = parse("ball:\n1\n1\n256\nball:\n1\n1\n-1\nball:\n1\n1\n0\n");
    ASSERT_EQ(f.records.size(), 1u);
    EXPECT_EQ(f.records[0].number, 0);
    EXPECT_EQ(f.problems[0], "line 1: ball value 256 is outside 0..255; record skipped");
}

TEST(ScenarioParser, BinaryGarbageNeverYieldsAnUnplaceableRecord) {
    std::string bytes;
    for (int i = 0; i < 4096; ++i) bytes.push_back(static_cast<char>((i * 131 + 7) % 256));
    const char tail[] = "\nball:\0\n\0\n:\n\r\r\n";
    bytes.append(tail, sizeof tail - 1);
    const ScenarioFile f = parse(bytes);
    for (const auto& r : f.records) {
        EXPECT_GE(r.x, 0);
        EXPECT_LE(r.x, 100);
        EXPECT_GE(r.z, 0);
        EXPECT_LE(r.z, 100);
    }
}

// --- Reading a file into the world ---

// A sphere of radius 1 dropped from height 30 onto the floor at 10.
void expectPlacedAt(const tide::mrObject* o, double x, double z) {
    const Vector3 p = o->getPosition();
    EXPECT_DOUBLE_EQ(p.x, x);
    EXPECT_NEAR(p.y, 11, 1e-9);
    EXPECT_DOUBLE_EQ(p.z, z);
}

// A flat 80 x 40 valley floor at height 10; the objects read belong to the test.
class ScenarioReader : public TempDirTest {
protected:
    void TearDown() override {
        for (tide::ball* b : balls) delete b;
        for (tide::Finish* f : finishes) delete f;
        for (tide::submarine* e : enemies) delete e;
        TempDirTest::TearDown();
    }

    void read(const std::string& text) {
        const std::string file = path("in.conf");
        std::ofstream(file, std::ios::binary) << text;
        tide::readScenario(&balls, &finishes, &enemies, file);
    }

    testworld::InstalledTerrain world{testworld::flatDepth(64, 32, 8), 64, 32};
    std::deque<tide::ball*> balls;
    std::deque<tide::Finish*> finishes;
    std::deque<tide::submarine*> enemies;
};

TEST_F(ScenarioReader, DropsEachObjectOntoTheTerrainInFileOrder) {
    read("ball:\n50\n25\n255\nball:\n50\n25\n3\nenemy:\n10\n10\n100\n0\n4\nfinish:\n90\n90\n");
    ASSERT_EQ(balls.size(), 2u);
    ASSERT_EQ(enemies.size(), 1u);
    ASSERT_EQ(finishes.size(), 1u);
    expectPlacedAt(balls[0], 40, 10);
    expectPlacedAt(balls[1], 40, 10);
    EXPECT_EQ(balls[0]->getValue(), 255);
    EXPECT_EQ(balls[1]->getValue(), 3);
    expectPlacedAt(enemies[0], 8, 4);
    EXPECT_TRUE(enemies[0]->getDirection().equals(1, 0, 0));
    EXPECT_EQ(static_cast<tide::enemy*>(enemies[0])->getTag(), 4);
    expectPlacedAt(finishes[0], 72, 36);
}

TEST_F(ScenarioReader, EnemyDirectionIsScaledByTheExtentsThenNormalised) {
    // 50 % of 80 across x and 100 % of 40 across z: equal parts.
    read("enemy:\n50\n50\n50\n100\n1\n");
    ASSERT_EQ(enemies.size(), 1u);
    const Vector3 d = enemies[0]->getDirection();
    EXPECT_NEAR(d.x, std::sqrt(0.5), 1e-12);
    EXPECT_NEAR(d.z, std::sqrt(0.5), 1e-12);
    EXPECT_EQ(d.y, 0.0);
}

TEST_F(ScenarioReader, EnemyWithoutDirectionKeepsTheZeroDirection) {
    read("enemy:\n50\n50\n0\n0\n1\n");
    ASSERT_EQ(enemies.size(), 1u);
    EXPECT_TRUE(enemies[0]->getDirection().equals(0, 0, 0));
}

TEST_F(ScenarioReader, HundredPercentPlacesTheObjectOnTheFarEdge) {
    read("finish:\n100\n100\n");
    ASSERT_EQ(finishes.size(), 1u);
    EXPECT_EQ(finishes[0]->getPosition().x, 80);
    EXPECT_EQ(finishes[0]->getPosition().z, 40);
}

TEST_F(ScenarioReader, MissingFileCreatesNothing) {
    tide::readScenario(&balls, &finishes, &enemies, path("no_such_dir/in.conf"));
    EXPECT_TRUE(balls.empty());
    EXPECT_TRUE(finishes.empty());
    EXPECT_TRUE(enemies.empty());
}

TEST_F(ScenarioReader, BadRecordsAreSkippedAndTheRestRead) {
    read("ball:\r\n150\r\n25\r\n1\r\nball:\r\n10\r\n25\r\n1\r\nfinish:\r\n5\r\n");
    EXPECT_EQ(balls.size(), 1u);
    EXPECT_TRUE(finishes.empty());
}

TEST(ShippedScenario, PutsTwentyFiveBallsThreeEnemiesAndThreeFinishesOnTheValleyFloor) {
    auto valley = testworld::InstalledTerrain::shippedValley(GAME_DATA_DIR);
    ASSERT_NE(valley, nullptr);
    std::ifstream file(std::string(GAME_DATA_DIR) + "/in.conf");
    const ScenarioFile parsed = parseScenario(file);
    EXPECT_TRUE(parsed.problems.empty());

    std::deque<tide::ball*> balls;
    std::deque<tide::Finish*> finishes;
    std::deque<tide::submarine*> enemies;
    tide::readScenario(&balls, &finishes, &enemies, std::string(GAME_DATA_DIR) + "/in.conf");
    EXPECT_EQ(balls.size(), 25u);
    EXPECT_EQ(enemies.size(), 3u);
    EXPECT_EQ(finishes.size(), 3u);
    // On the floor, not on the ridges: every object rests low in the valley.
    std::deque<tide::mrObject*> all(balls.begin(), balls.end());
    all.insert(all.end(), enemies.begin(), enemies.end());
    all.insert(all.end(), finishes.begin(), finishes.end());
    for (tide::mrObject* o : all) {
        EXPECT_GT(o->getPosition().y, 1.0);
        EXPECT_LT(o->getPosition().y, 9.0);
    }
    for (tide::mrObject* o : all) delete o;
}

}  // namespace

#include "game/scenario.h"

#include <gtest/gtest.h>

#include <sstream>
#include <string>

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

}  // namespace

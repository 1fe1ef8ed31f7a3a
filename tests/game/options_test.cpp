#include "game/options.h"

#include <gtest/gtest.h>

#include <initializer_list>
#include <string>
#include <vector>

namespace {

struct Parsed {
    OptionsStatus status;
    GameOptions options;
    std::string error;
};

Parsed parse(std::initializer_list<const char*> args) {
    std::vector<const char*> argv{"valley"};
    argv.insert(argv.end(), args);
    Parsed p;
    p.status = parseOptions(static_cast<int>(argv.size()), argv.data(), p.options, p.error);
    return p;
}

}  // namespace

TEST(Options, NoOptionsMeansPlainPlay) {
    const Parsed p = parse({});
    EXPECT_EQ(p.status, OptionsStatus::Play);
    EXPECT_EQ(p.options.timedemoFrames, 0);
    EXPECT_TRUE(p.options.screenshotPath.empty());
    EXPECT_FALSE(p.options.seedGiven);
    EXPECT_TRUE(p.options.culling);
    EXPECT_FALSE(p.options.terrainOnly);
}

TEST(Options, AllOptionsTogether) {
    const Parsed p = parse({"--timedemo", "2000", "--screenshot", "shot.bmp", "--seed", "42", "--no-culling",
                               "--terrain-only"});
    ASSERT_EQ(p.status, OptionsStatus::Play) << p.error;
    EXPECT_EQ(p.options.timedemoFrames, 2000);
    EXPECT_EQ(p.options.screenshotPath, "shot.bmp");
    EXPECT_TRUE(p.options.seedGiven);
    EXPECT_EQ(p.options.seed, 42u);
    EXPECT_FALSE(p.options.culling);
    EXPECT_TRUE(p.options.terrainOnly);
}

TEST(Options, HelpAsksForTheUsageWhereverItStands) {
    EXPECT_EQ(parse({"--help"}).status, OptionsStatus::Usage);
    EXPECT_EQ(parse({"--seed", "1", "--help"}).status, OptionsStatus::Usage);
    EXPECT_EQ(parse({"-h"}).status, OptionsStatus::Usage);
}

TEST(Options, SeedCoversTheWholeUnsignedRangeAndNoMore) {
    EXPECT_EQ(parse({"--seed", "0"}).options.seed, 0u);
    EXPECT_EQ(parse({"--seed", "4294967295"}).options.seed, 4294967295u);
    EXPECT_EQ(parse({"--seed", "4294967296"}).status, OptionsStatus::Invalid);
    EXPECT_EQ(parse({"--seed", "-1"}).status, OptionsStatus::Invalid);
}

TEST(Options, TimedemoNeedsAPositiveWholeFrameCount) {
    for (const char* bad : {"0", "-5", "12x", "", " 7", "1e3", "99999999999999999999999"}) {
        const Parsed p = parse({"--timedemo", bad});
        EXPECT_EQ(p.status, OptionsStatus::Invalid) << "'" << bad << "'";
        EXPECT_NE(p.error.find("--timedemo"), std::string::npos) << p.error;
    }
}

TEST(Options, ScreenshotNeedsABmpFileName) {
    EXPECT_EQ(parse({"--screenshot", "shot.png"}).status, OptionsStatus::Invalid);
    EXPECT_EQ(parse({"--screenshot", ".bmp"}).status, OptionsStatus::Invalid);
    EXPECT_EQ(parse({"--screenshot", "dir/shot.bmp"}).options.screenshotPath, "dir/shot.bmp");
}

TEST(Options, MissingValueOrUnknownOptionIsRefusedWithItsName) {
    const Parsed missing = parse({"--seed"});
    EXPECT_EQ(missing.status, OptionsStatus::Invalid);
    EXPECT_NE(missing.error.find("--seed"), std::string::npos) << missing.error;

    const Parsed unknown = parse({"--fast"});
    EXPECT_EQ(unknown.status, OptionsStatus::Invalid);
    EXPECT_NE(unknown.error.find("--fast"), std::string::npos) << unknown.error;

    EXPECT_EQ(parse({"extra"}).status, OptionsStatus::Invalid);
}

TEST(Options, GlutsOwnOptionsPassThroughInOrderWithTheirValues) {
    const Parsed p = parse({"-display", ":7", "--seed", "3", "-geometry", "320x200+5+5", "-sync", "-iconic"});
    ASSERT_EQ(p.status, OptionsStatus::Play) << p.error;
    EXPECT_EQ(p.options.glutArgs,
              (std::vector<std::string>{"-display", ":7", "-geometry", "320x200+5+5", "-sync", "-iconic"}));
    EXPECT_EQ(p.options.displayName, ":7");
    EXPECT_EQ(p.options.seed, 3u);

    for (const char* option : {"-display", "-geometry"}) {
        const Parsed missing = parse({option});
        EXPECT_EQ(missing.status, OptionsStatus::Invalid) << option;
        EXPECT_NE(missing.error.find(option), std::string::npos) << missing.error;
    }
    EXPECT_EQ(parse({"-displays"}).status, OptionsStatus::Invalid);
}

TEST(Options, DataFolder) {
    EXPECT_EQ(parse({"--data", "/usr/share/valley"}).options.dataDir, "/usr/share/valley");
    EXPECT_EQ(parse({"--data"}).status, OptionsStatus::Invalid);
    EXPECT_EQ(parse({"--data", ""}).status, OptionsStatus::Invalid);
}

TEST(Options, UsageNamesEveryOption) {
    const std::string usage = usageText("valley");
    EXPECT_EQ(usage.rfind("usage: valley", 0), 0u);
    for (const char* option : {"--help", "--timedemo N", "--no-culling", "--terrain-only", "--screenshot", "--seed S", "--data DIR",
                               "-display NAME", "-geometry"}) {
        EXPECT_NE(usage.find(option), std::string::npos) << option;
    }
}

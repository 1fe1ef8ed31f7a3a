#include <kvel/build_info.h>

#include <gtest/gtest.h>

#include <string>

// Users build KVEL in whatever build type their project has; the image loops
// must be compiled for speed in every one of them.
TEST(BuildInfo, LibraryIsCompiledForSpeed) {
#ifdef KVEL_DEBUGGABLE_BUILD
    GTEST_SKIP() << "a Debug or sanitizer build keeps the library debuggable";
#endif
    const KVEL::BuildInfo info = KVEL::buildInfo();
    const std::string flags = info.compileFlags;
    EXPECT_TRUE(info.optimised) << "build type '" << info.buildType << "', flags: " << flags;
    // The last optimisation level on the command line is the one that counts.
    const auto last = flags.rfind("-O");
    ASSERT_NE(last, std::string::npos) << flags;
    EXPECT_EQ(flags.substr(last, 3), "-O3") << flags;
}

#pragma once

// A fresh directory per test, removed afterwards. Its name is unique on the
// machine, so two suites running at once never share one.

#include <stdlib.h>

#include <algorithm>
#include <filesystem>
#include <string>

#include <gtest/gtest.h>

class TempDirTest : public ::testing::Test {
protected:
    void SetUp() override {
        const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
        // Parameterised names hold '/', which would nest directories.
        std::string name = std::string("valley_") + info->test_suite_name() + "_" + info->name() + "_XXXXXX";
        std::replace(name.begin(), name.end(), '/', '_');
        std::string pattern = (std::filesystem::temp_directory_path() / name).string();
        ASSERT_NE(mkdtemp(&pattern[0]), nullptr) << pattern;
        dir_ = pattern;
    }
    void TearDown() override {
        if (!dir_.empty()) std::filesystem::remove_all(dir_);
    }
    std::string path(const std::string& name) const { return (dir_ / name).string(); }

    std::filesystem::path dir_;
};

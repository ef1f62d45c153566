#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <string>

#include "support/debug_log.h"
#include "temp_dir.h"

// Runs each test in a fresh current directory, where "debug.txt" goes, with the log closed
// before and after so that every test starts its own.
class InTempDirectory : public ::testing::Test {
  protected:
    void SetUp() override {
        previous_ = std::filesystem::current_path();
        std::filesystem::current_path(dir_.Path());
        CloseDebugLog();
    }
    void TearDown() override {
        CloseDebugLog();
        SetErrorBoxHook(nullptr);
        std::filesystem::current_path(previous_);
    }
    // The log as written on Linux: text mode stores every line end as CR LF on Windows.
    std::string Log() const {
        std::string log = ReadFileBytes(dir_.File("debug.txt"));
        log.erase(std::remove(log.begin(), log.end(), '\r'), log.end());
        return log;
    }

    TempDir dir_;
    std::filesystem::path previous_;
};

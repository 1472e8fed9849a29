// Tests that work on files: a scratch folder of their own, named after the
// process and the test so that tests run in parallel never meet, removed
// when the test ends; and whole files as bytes.
#pragma once

#include <gtest/gtest.h>

#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

namespace lumatrail::testing {

inline std::string bytes_of(const std::filesystem::path& p) {
    std::ifstream in(p, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

inline void write_bytes(const std::filesystem::path& p, const std::string& bytes) {
    std::ofstream(p, std::ios::binary) << bytes;
}

// A test fixture (on ::testing::Test or another fixture) with a scratch folder.
template <class Base = ::testing::Test>
struct ScratchFolderTest : Base {
    std::filesystem::path dir;
    void SetUp() override {
        Base::SetUp();
        dir = std::filesystem::path(::testing::TempDir()) /
              ("lumatrail_" + std::to_string(::getpid()) + "_" +
               ::testing::UnitTest::GetInstance()->current_test_info()->test_suite_name() + "_" +
               ::testing::UnitTest::GetInstance()->current_test_info()->name());
        std::filesystem::create_directories(dir);
    }
    void TearDown() override {
        std::filesystem::remove_all(dir);
        Base::TearDown();
    }
    std::string at(const std::string& name) const { return (dir / name).string(); }
};

}  // namespace lumatrail::testing

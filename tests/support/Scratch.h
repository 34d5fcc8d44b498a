#pragma once

// Files of the tests: a fresh scratch folder per test, read, write and count.
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <set>
#include <string>
#include <unistd.h>

inline std::filesystem::path freshScratchDir(const std::string& prefix) {
    const auto dir = std::filesystem::temp_directory_path() /
                     (prefix + std::to_string(::getpid()) + "-" +
                      ::testing::UnitTest::GetInstance()->current_test_info()->name());
    std::filesystem::remove_all(dir);
    std::filesystem::create_directories(dir);
    return dir;
}

inline std::string slurp(const std::filesystem::path& p) {
    std::ifstream in(p, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
}

inline void spit(const std::filesystem::path& p, const std::string& text) {
    std::ofstream(p, std::ios::binary) << text;
}

inline long filesIn(const std::filesystem::path& folder) {
    return std::distance(std::filesystem::directory_iterator(folder), {});
}

// The names in `folder`; none where it is missing.
inline std::set<std::string> namesIn(const std::filesystem::path& folder) {
    std::set<std::string> names;
    std::error_code ec;
    for (auto e = std::filesystem::directory_iterator(folder, ec);
         !ec && e != std::filesystem::directory_iterator(); e.increment(ec))
        names.insert(e->path().filename().string());
    return names;
}

// A fresh temporary folder that becomes the current directory for one test
// and is removed with everything in it afterwards.
#pragma once
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <string>
#include <vector>

class TempFolder {
 public:
  // Portable C++ only: the Windows build runs these tests too.
  TempFolder() {
    namespace fs = std::filesystem;
    std::error_code error;
    std::random_device seed;
    std::mt19937 random(seed());
    for (int attempt = 0; attempt < 100 && path_.empty(); ++attempt) {
      fs::path candidate = fs::temp_directory_path(error) /
                           ("pelvane-synth-" + std::to_string(random() % 1000000000u));
      if (fs::create_directory(candidate, error)) path_ = candidate.string();
    }
    EXPECT_FALSE(path_.empty());
    previous_ = fs::current_path(error).string();
    fs::current_path(path_, error);
    EXPECT_FALSE(error) << error.message();
  }
  ~TempFolder() {
    std::error_code ignored;
    std::filesystem::current_path(previous_, ignored);
    std::filesystem::permissions(path_, std::filesystem::perms::owner_all, ignored);
    std::filesystem::remove_all(path_, ignored);
  }
  TempFolder(const TempFolder&) = delete;
  TempFolder& operator=(const TempFolder&) = delete;

  const std::string& Path() const { return path_; }

  static void Touch(const std::string& name) { std::ofstream(name) << ""; }
  static std::vector<unsigned char> Read(const std::string& name) {
    std::ifstream in(name, std::ios::binary);
    return std::vector<unsigned char>(std::istreambuf_iterator<char>(in), {});
  }
  // The names in the folder, sorted.
  std::vector<std::string> Names() const {
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(path_))
      names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
  }

 private:
  std::string path_;
  std::string previous_;
};

// A fresh temporary folder that becomes the current directory for one test
// and is removed with everything in it afterwards.
#pragma once
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include <gtest/gtest.h>

class TempFolder {
 public:
  TempFolder() {
    char pattern[] = "/tmp/pelvane-synth-XXXXXX";
    const char* made = mkdtemp(pattern);
    EXPECT_NE(made, nullptr);
    path_ = made ? made : "";
    char cwd[4096];
    previous_ = getcwd(cwd, sizeof cwd) ? cwd : "/";
    EXPECT_EQ(chdir(path_.c_str()), 0);
  }
  ~TempFolder() {
    if (chdir(previous_.c_str()) != 0) std::perror("chdir");
    std::error_code ignored;
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

// The user folder is the Linux desktop's (XDG base directories): a Linux suite.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>

#include "app/UserFolder.h"
#include "support/TempFolder.h"

namespace fs = std::filesystem;

TEST(UserFolder, PathFollowsPelvaneHomeThenXdgDataHomeThenHome) {
  EXPECT_EQ(UserFolderPath("/kits/mine", "/data", "/home/u"), "/kits/mine");
  EXPECT_EQ(UserFolderPath(nullptr, "/data", "/home/u"), "/data/pelvane");
  EXPECT_EQ(UserFolderPath("", "", "/home/u"), "/home/u/.local/share/pelvane");
  // The base directory rules ignore a relative XDG_DATA_HOME.
  EXPECT_EQ(UserFolderPath(nullptr, "data", "/home/u/"), "/home/u/.local/share/pelvane");
  EXPECT_EQ(UserFolderPath(nullptr, nullptr, nullptr), "");
  EXPECT_EQ(UserFolderPath(nullptr, nullptr, "relative"), "");
}

TEST(UserFolder, FirstUseMakesAndFillsTheFolderALaterOneLeavesIt) {
  TempFolder temp;
  fs::create_directory("examples");
  std::ofstream("examples/default.pvi") << "PVID kit\n";
  std::ofstream("examples/organ.WAV") << "RIFF";
  std::ofstream("examples/make-samples.sh") << "#!/bin/sh\n";
  const std::string examples = temp.Path() + "/examples";
  const std::string folder = temp.Path() + "/data/pelvane";

  ASSERT_TRUE(EnterUserFolder(folder, examples));
  EXPECT_EQ(fs::current_path(), fs::path(folder));
  EXPECT_TRUE(fs::exists(folder + "/default.pvi"));
  EXPECT_TRUE(fs::exists(folder + "/organ.WAV"));
  EXPECT_FALSE(fs::exists(folder + "/make-samples.sh"));

  std::ofstream(folder + "/default.pvi") << "PVID mine\n";
  fs::remove(folder + "/organ.WAV");
  ASSERT_TRUE(EnterUserFolder(folder, examples));
  EXPECT_FALSE(fs::exists(folder + "/organ.WAV"));
  EXPECT_EQ(TempFolder::Read(folder + "/default.pvi").size(), 10u);
}

TEST(UserFolder, AFolderThatCannotBeMadeIsRefused) {
  TempFolder temp;
  std::ofstream("file") << "x";
  EXPECT_FALSE(EnterUserFolder(temp.Path() + "/file/pelvane", temp.Path()));
  EXPECT_FALSE(EnterUserFolder("", temp.Path()));
  EXPECT_EQ(fs::current_path(), fs::path(temp.Path()));
}

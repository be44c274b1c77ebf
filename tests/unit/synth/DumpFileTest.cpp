#include <algorithm>
#include <filesystem>
#include <fstream>

#include "support/LogCapture.h"
#include "support/TempFolder.h"
#include "synth/DumpFile.h"

using Bytes = std::vector<unsigned char>;

TEST(FileExists, TellsFilesFromDirectoriesAndMissingNames) {
  TempFolder folder;
  TempFolder::Touch("a.wav");
  ASSERT_TRUE(std::filesystem::create_directory("sub"));
  EXPECT_TRUE(platform::FileExists("a.wav"));
  EXPECT_TRUE(platform::FileExists((folder.Path() + "/a.wav").c_str()));
  EXPECT_FALSE(platform::FileExists("sub"));
  EXPECT_FALSE(platform::FileExists("missing.wav"));
  EXPECT_FALSE(platform::FileExists(""));
}

TEST(CreateDumpFile, NamesFollowTheFirstFreeLowercaseHexCounter) {
  TempFolder folder;
  // Sixteen runs in a row: dump0001 .. dump000a .. dump0010, each one new.
  for (int run = 1; run <= 16; ++run) {
    platform::FileHandle file = CreateDumpFile();
    ASSERT_NE(file, platform::kNoFile) << "run " << run;
    platform::FileClose(file);
  }
  std::vector<std::string> names = folder.Names();
  ASSERT_EQ(names.size(), 16u);
  EXPECT_EQ(names[0], "dump0001.pvd");
  EXPECT_EQ(names[9], "dump000a.pvd");
  EXPECT_EQ(names[15], "dump0010.pvd");
  EXPECT_TRUE(std::find(names.begin(), names.end(), "dump000A.pvd") == names.end());
}

TEST(CreateDumpFile, StopsAtTheFirstGap) {
  TempFolder folder;
  TempFolder::Touch("dump0001.pvd");
  TempFolder::Touch("dump0003.pvd");
  platform::FileHandle file = CreateDumpFile();
  ASSERT_NE(file, platform::kNoFile);
  platform::FileClose(file);
  EXPECT_EQ(folder.Names(),
            (std::vector<std::string>{"dump0001.pvd", "dump0002.pvd", "dump0003.pvd"}));
  // The next run continues behind the last existing file.
  file = CreateDumpFile();
  ASSERT_NE(file, platform::kNoFile);
  platform::FileClose(file);
  EXPECT_TRUE(platform::FileExists("dump0004.pvd"));
}

TEST(CreateDumpFile, ExistingFilesAreNeverTouched) {
  TempFolder folder;
  std::ofstream("dump0001.pvd") << "keep";
  platform::FileHandle file = CreateDumpFile();
  ASSERT_NE(file, platform::kNoFile);
  WriteDumpRecord(file, 1, 2);
  platform::FileClose(file);
  EXPECT_EQ(TempFolder::Read("dump0001.pvd"), (Bytes{'k', 'e', 'e', 'p'}));
  EXPECT_EQ(TempFolder::Read("dump0002.pvd").size(), 8u);
}

TEST(CreateDumpFile, ADirectoryInTheWayMeansNoDumpFileAndOneLine) {
  TempFolder folder;
  LogCapture log;
  ASSERT_TRUE(std::filesystem::create_directory("dump0001.pvd"));
  EXPECT_EQ(CreateDumpFile(), platform::kNoFile);
  EXPECT_EQ(folder.Names(), (std::vector<std::string>{"dump0001.pvd"}));
  const std::vector<std::string> lines = log.Lines();
  ASSERT_EQ(lines.size(), 1u);
  EXPECT_EQ(lines[0].rfind("Dump file 'dump0001.pvd' cannot be created (GLE = ", 0), 0u)
      << lines[0];
  EXPECT_NE(lines[0].find("), this run is not recorded"), std::string::npos) << lines[0];
}

TEST(CreateDumpFile, AReadOnlyFolderMeansNoDumpFile) {
  TempFolder folder;
  std::filesystem::permissions(
      folder.Path(), std::filesystem::perms::owner_read | std::filesystem::perms::owner_exec);
  // Root, and Windows (where the read-only attribute of a folder does not
  // stop new files), write into it anyway.
  if (std::ofstream("probe").is_open()) GTEST_SKIP() << "the folder is still writable";
  LogCapture log;
  EXPECT_EQ(CreateDumpFile(), platform::kNoFile);
  EXPECT_EQ(log.Lines().size(), 1u);
}

TEST(WriteDumpRecord, WritesTimeStampThenMessageLittleEndian) {
  TempFolder folder;
  platform::FileHandle file = CreateDumpFile();
  ASSERT_NE(file, platform::kNoFile);
  // Note on 60, velocity 100, channel 0, 1500 ms after the input started.
  EXPECT_TRUE(WriteDumpRecord(file, 1500, 0x00643C90));
  // The high byte of the word is recorded as it came.
  EXPECT_TRUE(WriteDumpRecord(file, 0xA1B2C3D4, 0xFF7F40B3));
  WriteDumpRecord(platform::kNoFile, 7, 7);
  platform::FileClose(file);
  EXPECT_EQ(TempFolder::Read("dump0001.pvd"),
            (Bytes{0xDC, 0x05, 0x00, 0x00, 0x90, 0x3C, 0x64, 0x00,  //
                   0xD4, 0xC3, 0xB2, 0xA1, 0xB3, 0x40, 0x7F, 0xFF}));
}

TEST(WriteDumpRecord, ARunWithoutMessagesLeavesAnEmptyFile) {
  TempFolder folder;
  platform::FileHandle file = CreateDumpFile();
  ASSERT_NE(file, platform::kNoFile);
  platform::FileClose(file);
  EXPECT_TRUE(platform::FileExists("dump0001.pvd"));
  EXPECT_TRUE(TempFolder::Read("dump0001.pvd").empty());
}

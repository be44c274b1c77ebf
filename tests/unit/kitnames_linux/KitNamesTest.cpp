// Instrument sets written on Windows, read on Linux: sample names with '\'
// and in any case find their files, and the log names the file used.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "engine/Sample.h"
#include "loading/WaveLoader.h"
#include "platform/File.h"
#include "support/LogCapture.h"
#include "support/TempFolder.h"
#include "support/WaveBytes.h"

using Lines = std::vector<std::string>;

TEST(KitNames, AWindowsNameLoadsTheFileItMeansAndSaysWhich) {
  TempFolder temp;
  std::filesystem::create_directories("Kit/Sub");
  WriteBytes("Kit/Sub/Organ.WAV", Wave(1, 22050, 16, Values16({1, 2, 3})));
  LogCapture log;
  Sample sample;
  ASSERT_TRUE(LoadFile(sample, "kit\\sub\\organ.wav", nullptr));
  EXPECT_EQ(sample.rate, 22050u);
  Sample missing;
  EXPECT_FALSE(LoadFile(missing, "kit\\sub\\flute.wav", nullptr));
  EXPECT_EQ(log.Lines(), (Lines{"Sample: File kit\\sub\\organ.wav read as Kit/Sub/Organ.WAV",
                                "Sample: File kit\\sub\\flute.wav not found"}));
}

TEST(KitNames, TheNameAsWrittenComesFirstThenSlashesThenTheFirstMatchInByteOrder) {
  TempFolder temp;
  std::filesystem::create_directories("a");
  TempFolder::Touch("a/b.wav");
  TempFolder::Touch("a\\b.wav");
  TempFolder::Touch("X.wav");
  TempFolder::Touch("x.WAV");
  std::string found;
  EXPECT_FALSE(platform::FindFileAsWindowsWould("a\\b.wav", &found));  // exists as written
  std::filesystem::remove("a\\b.wav");
  ASSERT_TRUE(platform::FindFileAsWindowsWould("a\\b.wav", &found));
  EXPECT_EQ(found, "a/b.wav");
  ASSERT_TRUE(platform::FindFileAsWindowsWould("x.wav", &found));
  EXPECT_EQ(found, "X.wav");
  ASSERT_TRUE(platform::FindFileAsWindowsWould((temp.Path() + "/A//B.WAV").c_str(), &found));
  EXPECT_EQ(found, temp.Path() + "/a/b.wav");
  EXPECT_FALSE(platform::FindFileAsWindowsWould("a\\c.wav", &found));
  EXPECT_FALSE(platform::FindFileAsWindowsWould("", &found));
}

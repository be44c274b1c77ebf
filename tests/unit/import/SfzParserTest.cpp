// SFZ text into regions: inheritance through the headers, #define,
// #include, comments and values with blanks.
#include <gtest/gtest.h>

#include "tools/import/SfzParser.h"

TEST(SfzParser, RegionsInheritFromGroupMasterAndGlobalEachLevelResettingThoseBelow) {
  const std::string text =
      "// a kit\n"
      "#define $KEY 62\n"
      "<control> default_path=Samples\\Piano\\\n"
      "<global> volume=-6 ampeg_release=0.5\n"
      "<master> tune=10\n"
      "<group> lovel=1 hivel=64 /* soft */ pan=-20\n"
      "<region> sample=soft c4.wav key=$KEY\n"
      "<region> sample=x.wav pan=30 lokey=c#4 hikey=db5\n"
      "<group> volume=-3\n"
      "<region> sample=loud.wav\n"
      "<master>\n"
      "<region> sample=last.wav\n";
  SfzKit kit;
  std::string error;
  ASSERT_TRUE(ParseSfz(text, nullptr, &kit, &error)) << error;
  ASSERT_EQ(kit.regions.size(), 4u);
  const auto& first = kit.regions[0].opcodes;
  EXPECT_EQ(first.at("sample"), "soft c4.wav");
  EXPECT_EQ(first.at("key"), "62");
  EXPECT_EQ(first.at("volume"), "-6");
  EXPECT_EQ(first.at("tune"), "10");
  EXPECT_EQ(first.at("pan"), "-20");
  EXPECT_EQ(first.at("hivel"), "64");
  EXPECT_EQ(kit.regions[0].defaultPath, "Samples\\Piano\\");
  EXPECT_EQ(kit.regions[1].opcodes.at("pan"), "30");
  EXPECT_EQ(SfzKey(kit.regions[1].opcodes.at("lokey")), 61);
  EXPECT_EQ(SfzKey(kit.regions[1].opcodes.at("hikey")), 73);
  EXPECT_EQ(SfzKey("g9"), 127);
  EXPECT_EQ(SfzKey("c#4222222222222222222222"), -1);  // an octave past any long
  // A new group drops the old group's opcodes and overrides the global's.
  const auto& loud = kit.regions[2].opcodes;
  EXPECT_EQ(loud.at("volume"), "-3");
  EXPECT_EQ(loud.count("hivel"), 0u);
  EXPECT_EQ(loud.at("tune"), "10");
  // A new master drops the old master and its groups.
  EXPECT_EQ(kit.regions[3].opcodes.count("tune"), 0u);
  EXPECT_EQ(kit.regions[3].opcodes.at("ampeg_release"), "0.5");
}

TEST(SfzParser, IncludeIsReadInPlaceAndAMissingOneIsAnError) {
  auto reader = [](const std::string& path, std::string* text) {
    if (path != "parts/common.sfzh") return false;
    *text = "#define $V -12\n<group> volume=$V\n";
    return true;
  };
  SfzKit kit;
  std::string error;
  ASSERT_TRUE(
      ParseSfz("#include \"parts/common.sfzh\"\n<region> sample=a.wav\n", reader, &kit, &error))
      << error;
  ASSERT_EQ(kit.regions.size(), 1u);
  EXPECT_EQ(kit.regions[0].opcodes.at("volume"), "-12");
  SfzKit other;
  EXPECT_FALSE(ParseSfz("#include \"gone.sfz\"\n", reader, &other, &error));
  EXPECT_EQ(error, "cannot read the included file 'gone.sfz'");
}

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "loading/FileStream.h"
#include "support/MemoryStream.h"
#include "support/TempFolder.h"
#include "support/WaveBytes.h"

namespace {

using Lines = std::vector<std::string>;

// Every line up to the first null.
Lines AllLines(BufferedStream& stream) {
  Lines lines;
  while (const char* line = stream.ReadLine(nullptr)) lines.push_back(line);
  return lines;
}

struct LineCase {
  const char* bytes;
  Lines lines;
  bool atEnd;  // after the first null
};

class BufferedStreamLines : public ::testing::Test {
 protected:
  TempFolder folder;
};

TEST_F(BufferedStreamLines, AcceptsEveryLineEnd) {
  const std::vector<LineCase> cases = {
      {"", {}, true},
      {"A\r\nB\r\n", {"A", "B"}, true},
      {"A\n\rB\n", {"A", "B"}, true},
      {"A\rB\r", {"A", "B"}, true},
      {"A\r\rB\r", {"A", "B"}, true},
      {"A\n\nB\n", {"A", "B"}, true},
      {"A\n\n\nB\n", {"A", "", "B"}, true},
      {"A\r\n\r\nB\n", {"A", "", "B"}, true},
      {"A\nlast", {"A", "last"}, true},
      // A final single byte without a line end never comes out.
      {"A\nx", {"A"}, false},
      {"x", {}, false},
  };
  for (const LineCase& c : cases) {
    SCOPED_TRACE(testing::PrintToString(std::string(c.bytes)));
    WriteText("lines.txt", c.bytes);
    FileStream stream("lines.txt");
    EXPECT_FALSE(stream.AtEnd());
    EXPECT_EQ(AllLines(stream), c.lines);
    EXPECT_EQ(stream.AtEnd(), c.atEnd);
    // Once used up, it stays used up.
    EXPECT_EQ(stream.ReadLine(nullptr), nullptr);
    EXPECT_EQ(stream.AtEnd(), c.atEnd);
  }
}

TEST_F(BufferedStreamLines, PositionOutCountsTheFirstLineWithItsLineEnd) {
  const std::vector<std::pair<const char*, int32_t>> cases = {
      {"abc\r\ndef\r\n", 5}, {"abc\ndef\n", 4}, {"abc", 3}, {"abc\n\r\n", 5}};
  for (const auto& [bytes, expected] : cases) {
    MemoryStream stream(bytes);
    int32_t position = -7;
    ASSERT_STREQ(stream.ReadLine(&position), "abc");
    EXPECT_EQ(position, expected) << testing::PrintToString(std::string(bytes));
  }
  // No line, no position.
  MemoryStream empty("");
  int32_t position = -7;
  EXPECT_EQ(empty.ReadLine(&position), nullptr);
  EXPECT_EQ(position, -7);
  // Later lines give the buffer position after them; with fewer than 1,000
  // unread bytes the rest is moved to the front first.
  MemoryStream two("ab\ncd\r\n");
  ASSERT_STREQ(two.ReadLine(&position), "ab");
  ASSERT_STREQ(two.ReadLine(&position), "cd");
  EXPECT_EQ(position, 4);
  MemoryStream longer("ab\n" + std::string(2000, 'x') + "\n");
  ASSERT_STREQ(longer.ReadLine(&position), "ab");
  ASSERT_NE(longer.ReadLine(&position), nullptr);
  EXPECT_EQ(position, 2004);
}

TEST_F(BufferedStreamLines, LargeFileComesOutWholeAcrossRefills) {
  std::string text;
  Lines expected;
  const char* ends[] = {"\n", "\r\n", "\r", "\n\r"};
  for (int i = 0; text.size() < 400000; ++i) {
    std::string line = "line " + std::to_string(i) + std::string(static_cast<size_t>(i % 97), '.');
    expected.push_back(line);
    text += line + ends[i % 4];
  }
  WriteText("big.txt", text);
  FileStream stream("big.txt");
  EXPECT_EQ(AllLines(stream), expected);
  EXPECT_TRUE(stream.AtEnd());
}

TEST_F(BufferedStreamLines, LongLinesComeOutWholeUpToTheBufferSize) {
  const std::string mid(5000, 'm');
  const std::string full(BUFFERED_STREAM_SIZE, 'f');
  const std::string over(BUFFERED_STREAM_SIZE + 4464, 'o');
  std::string text = "short\n" + mid + "\r\n" + full + "\n" + over + "\nend\n";
  WriteText("long.txt", text);
  FileStream stream("long.txt");
  EXPECT_EQ(AllLines(stream), (Lines{"short", mid, full, over.substr(0, BUFFERED_STREAM_SIZE),
                                     over.substr(0, 4464), "end"}));
  EXPECT_TRUE(stream.AtEnd());

  // A long last line without a line end.
  MemoryStream last("a\n" + mid);
  EXPECT_EQ(AllLines(last), (Lines{"a", mid}));
}

TEST_F(BufferedStreamLines, LineEndPairSplitByRefillIsOneLineEnd) {
  // "a\n" and the long line fill the buffer up to the long line's CR, which
  // becomes the last byte of the buffer after the refill in mid-line; its LF
  // comes only with the next refill.
  const std::string longLine(BUFFERED_STREAM_SIZE - 1, 'L');
  MemoryStream stream("a\n" + longLine + "\r\nz\n");
  EXPECT_EQ(AllLines(stream), (Lines{"a", longLine, "z"}));
}

TEST_F(BufferedStreamLines, UnopenableFileDeliversNothing) {
  FileStream stream("missing.txt");
  EXPECT_EQ(stream.handle, platform::kNoFile);
  EXPECT_EQ(stream.ReadLine(nullptr), nullptr);
  EXPECT_TRUE(stream.AtEnd());
}

}  // namespace

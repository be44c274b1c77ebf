// Files on KERNEL32: the dump file's create-new semantics and sharing, and
// reads and seeks through the seam.
#include <windows.h>
#include <gtest/gtest.h>

#include <fstream>

#include "platform/File.h"
#include "support/TempFolder.h"
#include "synth/DumpFile.h"

namespace {

TEST(File, CreateNewIsExclusiveAndSharesReadAndWrite) {
  TempFolder folder;
  platform::FileHandle first = platform::FileCreateNew("dump0001.pvd");
  ASSERT_NE(first, platform::kNoFile);
  EXPECT_EQ(platform::FileCreateNew("dump0001.pvd"), platform::kNoFile);
  EXPECT_EQ(platform::LastError(), ERROR_FILE_EXISTS);

  // Another program may read and even write the file while it is recorded.
  HANDLE reader =
      CreateFileA("dump0001.pvd", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                  nullptr, OPEN_EXISTING, 0, nullptr);
  EXPECT_NE(reader, INVALID_HANDLE_VALUE);
  uint32_t done = 0;
  ASSERT_TRUE(platform::FileWrite(first, "\x01\x02\x03\x04", 4, &done));
  EXPECT_EQ(done, 4u);
  char got[8] = {};
  DWORD read = 0;
  EXPECT_TRUE(ReadFile(reader, got, sizeof got, &read, nullptr));
  EXPECT_EQ(read, 4u);
  EXPECT_EQ(std::string(got, read), "\x01\x02\x03\x04");
  CloseHandle(reader);
  platform::FileClose(first);

  // The second Start of a run finds the first file and takes the next name.
  platform::FileHandle second = CreateDumpFile();
  ASSERT_NE(second, platform::kNoFile);
  platform::FileClose(second);
  EXPECT_TRUE(platform::FileExists("dump0002.pvd"));
}

TEST(File, FindEntryTellsDirectoriesAndNeedsAnExactName) {
  TempFolder folder;
  std::ofstream("a.pvi") << "x";
  ASSERT_TRUE(CreateDirectoryA("sub", nullptr));
  bool isDirectory = true;
  EXPECT_TRUE(platform::FindEntry("a.pvi", &isDirectory));
  EXPECT_FALSE(isDirectory);
  EXPECT_TRUE(platform::FindEntry("sub", &isDirectory));
  EXPECT_TRUE(isDirectory);
  EXPECT_FALSE(platform::FindEntry("b.pvi", &isDirectory));
  // Names are not case-sensitive on Windows.
  EXPECT_TRUE(platform::FileExists("A.PVI"));
  EXPECT_FALSE(platform::FileExists("SUB"));
  EXPECT_EQ(platform::FileOpenRead("sub"), platform::kNoFile);
  EXPECT_EQ(platform::FileOpenRead("missing"), platform::kNoFile);
  EXPECT_EQ(platform::LastError(), ERROR_FILE_NOT_FOUND);
}

TEST(File, ReadsSeeksAndEndsWithZeroBytes) {
  TempFolder folder;
  std::ofstream("data.bin", std::ios::binary) << "0123456789";
  platform::FileHandle file = platform::FileOpenRead("data.bin");
  ASSERT_NE(file, platform::kNoFile);
  char buffer[16] = {};
  uint32_t done = 0;
  ASSERT_TRUE(platform::FileRead(file, buffer, 4, &done));
  EXPECT_EQ(std::string(buffer, done), "0123");
  ASSERT_TRUE(platform::FileSeek(file, 8));
  ASSERT_TRUE(platform::FileRead(file, buffer, sizeof buffer, &done));
  EXPECT_EQ(std::string(buffer, done), "89");
  ASSERT_TRUE(platform::FileRead(file, buffer, sizeof buffer, &done));
  EXPECT_EQ(done, 0u);
  platform::FileClose(file);
}

TEST(File, OnlyDiskFilesAreOpenedForReading) {
  TempFolder folder;
  // A device and a pipe open like files, but a read may wait for ever.
  EXPECT_EQ(platform::FileOpenRead("NUL"), platform::kNoFile);
  EXPECT_EQ(platform::LastError(), platform::kErrorNotRegularFile);
  HANDLE pipe = CreateNamedPipeA("\\\\.\\pipe\\pelvane-test-pipe", PIPE_ACCESS_DUPLEX,
                                 PIPE_TYPE_BYTE | PIPE_WAIT, 1, 512, 512, 0, nullptr);
  ASSERT_NE(pipe, INVALID_HANDLE_VALUE);
  EXPECT_EQ(platform::FileOpenRead("\\\\.\\pipe\\pelvane-test-pipe"), platform::kNoFile);
  EXPECT_EQ(platform::LastError(), platform::kErrorNotRegularFile);
  CloseHandle(pipe);

  std::ofstream("data.bin", std::ios::binary) << "0123456789";
  platform::FileHandle file = platform::FileOpenRead("data.bin");
  ASSERT_NE(file, platform::kNoFile);
  uint64_t size = 0;
  EXPECT_TRUE(platform::FileSize(file, &size));
  EXPECT_EQ(size, 10u);
  platform::FileClose(file);
}

}  // namespace

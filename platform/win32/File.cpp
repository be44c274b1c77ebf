#include "platform/File.h"

#include <windows.h>
#include <fcntl.h>
#include <io.h>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <initializer_list>

namespace platform {

namespace {
// kNoFile (-1) is INVALID_HANDLE_VALUE, so CreateFileA's failure passes through.
HANDLE Handle(FileHandle file) { return reinterpret_cast<HANDLE>(file); }
}  // namespace

bool FindEntry(const char* path, bool* isDirectory) {
  WIN32_FIND_DATAA found;
  HANDLE search = FindFirstFileA(path, &found);
  if (search == INVALID_HANDLE_VALUE) return false;
  FindClose(search);
  *isDirectory = (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
  return true;
}

FileHandle FileCreateNew(const char* path) {
  HANDLE file = CreateFileA(path, GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                            CREATE_NEW, FILE_FLAG_SEQUENTIAL_SCAN, nullptr);
  return reinterpret_cast<FileHandle>(file);
}

const int kErrorNotRegularFile = ERROR_BAD_FILE_TYPE;

FileHandle FileOpenRead(const char* path) {
  HANDLE file =
      CreateFileA(path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
  if (file == INVALID_HANDLE_VALUE) return kNoFile;
  // A pipe, the console or a device such as NUL or COM1 opens like a file, but
  // a read may wait for ever or never end: only disk files are read.
  if (GetFileType(file) != FILE_TYPE_DISK) {
    CloseHandle(file);
    SetLastError(ERROR_BAD_FILE_TYPE);
    return kNoFile;
  }
  return reinterpret_cast<FileHandle>(file);
}

bool FileSize(FileHandle file, uint64_t* size) {
  LARGE_INTEGER length;
  if (!GetFileSizeEx(Handle(file), &length)) return false;
  *size = static_cast<uint64_t>(length.QuadPart);
  return true;
}

bool FileRead(FileHandle file, void* data, uint32_t size, uint32_t* done) {
  DWORD got = 0;
  BOOL ok = ReadFile(Handle(file), data, size, &got, nullptr);
  *done = got;
  return ok != FALSE;
}

bool FileWrite(FileHandle file, const void* data, uint32_t size, uint32_t* done) {
  DWORD put = 0;
  BOOL ok = WriteFile(Handle(file), data, size, &put, nullptr);
  *done = put;
  return ok != FALSE;
}

bool FileSeek(FileHandle file, uint32_t offset) {
  // With a high part given, the low part counts as unsigned: offsets up to
  // 4 GiB - 1 work. INVALID_SET_FILE_POINTER is then also a valid result, so
  // the error code decides.
  LONG high = 0;
  SetLastError(NO_ERROR);
  DWORD low = SetFilePointer(Handle(file), static_cast<LONG>(offset), &high, FILE_BEGIN);
  return !(low == INVALID_SET_FILE_POINTER && GetLastError() != NO_ERROR);
}

void FileClose(FileHandle file) {
  if (file != kNoFile) CloseHandle(Handle(file));
}

int LastError() { return static_cast<int>(GetLastError()); }

bool IsNotFoundError(int code) {
  return code == 0 || code == ERROR_FILE_NOT_FOUND || code == ERROR_PATH_NOT_FOUND;
}

void DescribeError(int code, char* text, uint32_t size) {
  if (size == 0) return;
  // The common failures in the C library's words, as on Linux, so that the
  // programs say the same on both systems.
  int posix = 0;
  switch (code) {
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
    case ERROR_INVALID_DRIVE:
      posix = ENOENT;
      break;
    case ERROR_ACCESS_DENIED:
    case ERROR_SHARING_VIOLATION:
    case ERROR_LOCK_VIOLATION:
      posix = EACCES;
      break;
    case ERROR_FILE_EXISTS:
    case ERROR_ALREADY_EXISTS:
      posix = EEXIST;
      break;
    case ERROR_DISK_FULL:
    case ERROR_HANDLE_DISK_FULL:
      posix = ENOSPC;
      break;
    case ERROR_DIRECTORY:
      posix = ENOTDIR;
      break;
    // A path past MAX_PATH, or a name past what the file system holds.
    case ERROR_FILENAME_EXCED_RANGE:
      posix = ENAMETOOLONG;
      break;
    default:
      break;
  }
  if (posix != 0) {
    lstrcpynA(text, strerror(posix), static_cast<int>(size));
    return;
  }
  DWORD length = FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
                                static_cast<DWORD>(code), 0, text, size, nullptr);
  if (length == 0) {
    wsprintfA(text, size >= 24 ? "GLE = %d" : "", code);
    return;
  }
  // The system's texts end with a full stop and CR LF.
  while (length > 0 && (text[length - 1] == '\r' || text[length - 1] == '\n' ||
                        text[length - 1] == ' ' || text[length - 1] == '.'))
    text[--length] = '\0';
}

void KeepRunningPastFileSizeLimit() {}

void KeepStandardOutputBinary() { _setmode(_fileno(stdout), _O_BINARY); }

void OpenClosedStandardDescriptors() {}

namespace {
char g_interruptPath[4096];
volatile sig_atomic_t g_interruptArmed = 0;

// The C runtime calls it on a thread of its own for Ctrl+C and Ctrl+Break.
void OnInterrupt(int signal) {
  if (g_interruptArmed) DeleteFileA(g_interruptPath);
  _exit(128 + signal);
}
}  // namespace

void RemoveFileOnInterrupt(const char* path) {
  static bool installed = false;
  g_interruptArmed = 0;
  if (path == nullptr || std::strlen(path) >= sizeof g_interruptPath) return;
  std::memcpy(g_interruptPath, path, std::strlen(path) + 1);
  g_interruptArmed = 1;
  if (installed) return;
  installed = true;
  for (int signal : {SIGINT, SIGBREAK, SIGTERM}) {
    // A signal ignored from the start stays ignored.
    if (std::signal(signal, &OnInterrupt) == SIG_IGN) std::signal(signal, SIG_IGN);
  }
}

}  // namespace platform

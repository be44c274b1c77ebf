// Files. Win32: FindFirstFileA, CreateFileA, ReadFile, WriteFile, CloseHandle,
// GetLastError. Linux: stat, open/read/write/close, errno.
#pragma once
#include <cstdint>

namespace platform {

using FileHandle = intptr_t;
constexpr FileHandle kNoFile = -1;

// Looks the path up (FindFirstFileA). False when nothing is there; otherwise
// true, with *isDirectory telling whether the entry is a directory.
bool FindEntry(const char* path, bool* isDirectory);
// Creates a new file for writing; fails when the name exists in any form
// (CREATE_NEW / O_CREAT|O_EXCL). Others may read and write it while it is open.
// The file is written sequentially.
FileHandle FileCreateNew(const char* path);
// Opens an existing file for reading (GENERIC_READ, OPEN_EXISTING).
FileHandle FileOpenRead(const char* path);
// Reads up to size bytes; *done gets the count read (0 at the end). False on error.
bool FileRead(FileHandle file, void* data, uint32_t size, uint32_t* done);
// Writes size bytes at the end of what was written so far. False on error.
bool FileWrite(FileHandle file, const void* data, uint32_t size, uint32_t* done);
// Moves to an absolute byte offset. False on error.
bool FileSeek(FileHandle file, uint32_t offset);
void FileClose(FileHandle file);
// The calling thread's last error code (GetLastError / errno).
int LastError();

}  // namespace platform

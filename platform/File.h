// Files. Win32: FindFirstFileA, CreateFileA, ReadFile, WriteFile, CloseHandle,
// GetLastError. Linux: stat, open/read/write/close, errno.
#pragma once
#include <cstdint>
#include <string>

namespace platform {

using FileHandle = intptr_t;
constexpr FileHandle kNoFile = -1;

// Looks the path up (FindFirstFileA). False when nothing is there; otherwise
// true, with *isDirectory telling whether the entry is a directory.
bool FindEntry(const char* path, bool* isDirectory);
// True when the path names an existing entry that is not a directory.
bool FileExists(const char* path);
// Creates a new file for writing; fails when the name exists in any form
// (CREATE_NEW / O_CREAT|O_EXCL). Others may read and write it while it is open.
// The file is written sequentially.
FileHandle FileCreateNew(const char* path);
// Opens an existing regular file for reading (GENERIC_READ, OPEN_EXISTING)
// without ever waiting: a FIFO, a device or a socket is refused with
// LastError() == kErrorNotRegularFile (opening a FIFO blocks until a writer
// comes, reading a terminal or /dev/zero never ends), a directory as
// CreateFileA refuses one.
FileHandle FileOpenRead(const char* path);
// The error code of FileOpenRead on anything that is not a regular file.
extern const int kErrorNotRegularFile;
// The file's length in bytes. False on error.
bool FileSize(FileHandle file, uint64_t* size);
// Reads up to size bytes; *done gets the count read (0 at the end). False on error.
bool FileRead(FileHandle file, void* data, uint32_t size, uint32_t* done);
// Writes size bytes at the end of what was written so far. False on error.
bool FileWrite(FileHandle file, const void* data, uint32_t size, uint32_t* done);
// Moves to an absolute byte offset. False on error.
bool FileSeek(FileHandle file, uint32_t offset);
void FileClose(FileHandle file);
// The calling thread's last error code (GetLastError / errno).
int LastError();
// True for the codes that mean the name is not there (ENOENT, ENOTDIR;
// ERROR_FILE_NOT_FOUND, ERROR_PATH_NOT_FOUND), and for 0.
bool IsNotFoundError(int code);
// The system's words for a LastError() code ("No such file or directory"),
// cut to fit size bytes with its NUL.
void DescribeError(int code, char* text, uint32_t size);

// A file an instrument set written on Windows names (sub\organ.wav, in any
// case) where nothing is found under the name as written. On Linux: first the
// name with every '\' read as '/', then each component of that path matched
// without regard to (ASCII) case, the first match in byte order when several
// do. True with *found set to the file to use; false when the name as written
// exists, or nothing matches. Windows finds such names itself: always false.
bool FindFileAsWindowsWould(const char* path, std::string* found);

// For the whole process: a write past the file-size limit (ulimit -f,
// LimitFSIZE) fails with an error instead of ending the process (SIGXFSZ is
// ignored). Nothing to do on Windows, which has no such limit.
void KeepRunningPastFileSizeLimit();
// Standard output carries bytes as written (a WAV file into a pipe): Windows
// would otherwise put a CR before every LF byte. Nothing to do on Linux.
void KeepStandardOutputBinary();

// For the whole process, first thing at start-up: a standard descriptor
// (0, 1, 2) that was closed (`2>&-`) is opened on /dev/null, so that no file
// the program opens later takes its number and gets the log lines. Nothing
// to do on Windows.
void OpenClosedStandardDescriptors();

// For the whole process: when it is interrupted (SIGINT, SIGTERM, SIGHUP; on
// Windows Ctrl+C, Ctrl+Break and SIGTERM), the file named by the latest call
// is removed and the process exits with 128 + the signal's number. Null
// disarms it. The path is copied; at most 4095 bytes.
void RemoveFileOnInterrupt(const char* path);

}  // namespace platform

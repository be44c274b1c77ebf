#include "platform/File.h"

#include <errno.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <initializer_list>

namespace platform {

bool FindEntry(const char* path, bool* isDirectory) {
  struct stat info;
  if (stat(path, &info) != 0) return false;
  *isDirectory = S_ISDIR(info.st_mode);
  return true;
}

FileHandle FileCreateNew(const char* path) {
  int fd = open(path, O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
  return fd < 0 ? kNoFile : fd;
}

// EINVAL: open(2) with these flags gives it for nothing else.
const int kErrorNotRegularFile = EINVAL;

FileHandle FileOpenRead(const char* path) {
  // O_NONBLOCK: opening a FIFO for reading would otherwise wait for a writer,
  // for ever. O_NOCTTY: a terminal named here must not become ours.
  int fd = open(path, O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY);
  if (fd < 0) return kNoFile;
  struct stat info;
  if (fstat(fd, &info) != 0) {
    int error = errno;
    close(fd);
    errno = error;
    return kNoFile;
  }
  if (!S_ISREG(info.st_mode)) {
    close(fd);
    // CreateFileA refuses a directory; so do we, with the same reason.
    errno = S_ISDIR(info.st_mode) ? EISDIR : kErrorNotRegularFile;
    return kNoFile;
  }
  // Reads of a regular file never wait anyway; the flag goes for tidiness.
  fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) & ~O_NONBLOCK);
  return fd;
}

bool FileSize(FileHandle file, uint64_t* size) {
  struct stat info;
  if (fstat(static_cast<int>(file), &info) != 0) return false;
  *size = static_cast<uint64_t>(info.st_size);
  return true;
}

bool FileRead(FileHandle file, void* data, uint32_t size, uint32_t* done) {
  *done = 0;
  char* at = static_cast<char*>(data);
  while (*done < size) {
    ssize_t got = read(static_cast<int>(file), at + *done, size - *done);
    if (got < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    if (got == 0) break;
    *done += static_cast<uint32_t>(got);
  }
  return true;
}

bool FileWrite(FileHandle file, const void* data, uint32_t size, uint32_t* done) {
  *done = 0;
  const char* at = static_cast<const char*>(data);
  while (*done < size) {
    ssize_t put = write(static_cast<int>(file), at + *done, size - *done);
    if (put < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    *done += static_cast<uint32_t>(put);
  }
  return true;
}

bool FileSeek(FileHandle file, uint32_t offset) {
  return lseek(static_cast<int>(file), static_cast<off_t>(offset), SEEK_SET) >= 0;
}

void FileClose(FileHandle file) {
  if (file != kNoFile) close(static_cast<int>(file));
}

int LastError() { return errno; }

bool IsNotFoundError(int code) { return code == 0 || code == ENOENT || code == ENOTDIR; }

void DescribeError(int code, char* text, uint32_t size) {
  if (size > 0) std::snprintf(text, size, "%s", std::strerror(code));
}

void KeepRunningPastFileSizeLimit() { signal(SIGXFSZ, SIG_IGN); }

void KeepStandardOutputBinary() {}

void OpenClosedStandardDescriptors() {
  for (int fd = 0; fd <= 2; ++fd) {
    if (fcntl(fd, F_GETFD) != -1 || errno != EBADF) continue;
    // The lowest free number: this one, as the ones below are open by now.
    int opened = open("/dev/null", fd == 0 ? O_RDONLY : O_WRONLY);
    if (opened > fd) close(opened);
  }
}

namespace {
char g_interruptPath[4096];
volatile sig_atomic_t g_interruptArmed = 0;

// Only calls that are safe in a signal handler: unlink and _exit.
void OnInterrupt(int signal) {
  if (g_interruptArmed) unlink(g_interruptPath);
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
  struct sigaction action = {};
  action.sa_handler = &OnInterrupt;
  sigemptyset(&action.sa_mask);
  // A signal ignored from the start stays ignored (nohup, a shell's
  // background job): the user asked for the run to go on.
  for (int signal : {SIGINT, SIGTERM, SIGHUP}) {
    struct sigaction before;
    if (sigaction(signal, nullptr, &before) == 0 && before.sa_handler != SIG_IGN)
      sigaction(signal, &action, nullptr);
  }
}

}  // namespace platform

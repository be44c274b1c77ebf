#include <windows.h>
#include <tlhelp32.h>

#include <vector>

#include "support/doubles/ProcessCounters.h"

namespace platform {

int ProcessThreadCount() {
  HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPTHREAD, 0);
  if (snapshot == INVALID_HANDLE_VALUE) return -1;
  const DWORD self = GetCurrentProcessId();
  int count = 0;
  THREADENTRY32 entry;
  entry.dwSize = sizeof entry;
  for (BOOL more = Thread32First(snapshot, &entry); more; more = Thread32Next(snapshot, &entry))
    if (entry.th32OwnerProcessID == self) ++count;
  CloseHandle(snapshot);
  return count;
}

namespace {

// SystemHandleInformation (16): every handle of the system with its owner.
struct HandleEntry {
  ULONG ownerPid;
  BYTE objectType;
  BYTE flags;
  USHORT value;
  PVOID object;
  ACCESS_MASK access;
};
struct HandleList {
  ULONG count;
  HandleEntry entries[1];
};
using QuerySystemInformation = LONG(WINAPI*)(ULONG, PVOID, ULONG, PULONG);

// GetProcessHandleCount answers 0 under Wine; the system's handle list is
// counted there instead.
int CountOwnHandles() {
  auto query = reinterpret_cast<QuerySystemInformation>(reinterpret_cast<void*>(
      GetProcAddress(GetModuleHandleA("ntdll.dll"), "NtQuerySystemInformation")));
  if (!query) return -1;
  std::vector<char> buffer(1 << 16);
  for (int attempt = 0; attempt < 8; ++attempt) {
    ULONG needed = 0;
    LONG status = query(16, buffer.data(), static_cast<ULONG>(buffer.size()), &needed);
    if (status == 0) {
      const auto* list = reinterpret_cast<const HandleList*>(buffer.data());
      const DWORD self = GetCurrentProcessId();
      int count = 0;
      for (ULONG i = 0; i < list->count; ++i) count += list->entries[i].ownerPid == self;
      return count;
    }
    buffer.resize(buffer.size() * 4);  // STATUS_INFO_LENGTH_MISMATCH
  }
  return -1;
}

}  // namespace

int ProcessHandleCount() {
  DWORD count = 0;
  if (GetProcessHandleCount(GetCurrentProcess(), &count) && count > 0)
    return static_cast<int>(count);
  return CountOwnHandles();
}

}  // namespace platform

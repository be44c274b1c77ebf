// The program on Linux: what WinMain does on Windows, with Qt as the toolkit.
// The working directory holds default.pvi, default.wav and the dump files.
//
// PELVANE_CONTROL=stdin lets a script drive the window: each line on standard
// input is an Automation command (see app/Automation.h).
//
// Linux does not tell windows about devices that come and go, as Windows does
// with WM_DEVICECHANGE; the device watch posts that message instead, for as
// long as the window lives.
//
// --help and --version are answered before anything else: they need no
// display. --user-folder (the desktop entry's command) works in the user's
// Pelvane folder instead of the working directory; see app/UserFolder.h.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <memory>
#include <new>
#include <system_error>

#include "Version.h"
#include "app/Automation.h"
#include "app/MainWindow.h"
#include "app/UserFolder.h"
#include "log/Log.h"
#include "platform/DeviceWatch.h"
#include "platform/File.h"
#include "platform/linux/qt/QtWidgetSet.h"

namespace {
constexpr int kShowNormal = 1;  // SW_SHOWNORMAL

const char kUsage[] =
    "Usage: pelvane [--user-folder]\n"
    "Plays the notes of a MIDI keyboard with sampled instruments, live. Reads\n"
    "default.pvi and default.wav from the working directory and writes the dump\n"
    "files (dump0001.pvd, ...) there.\n"
    "  --user-folder  work in your own Pelvane folder instead: $PELVANE_HOME, else\n"
    "                 $XDG_DATA_HOME/pelvane, else ~/.local/share/pelvane, made\n"
    "                 with the example instruments on first use (the menu entry\n"
    "                 starts Pelvane so)\n"
    "  --version      show the version\n"
    "  --help         show this text\n";

int Print(const char* text) {
  std::fputs(text, stdout);
  if (std::fflush(stdout) != 0 || std::ferror(stdout)) {
    std::fputs("pelvane: error: cannot write to standard output\n", stderr);
    return 1;
  }
  return 0;
}

// The example instruments installed beside the program:
// BINDIR/PELVANE_EXAMPLES_FROM_BINDIR.
std::string InstalledExamples() {
  std::error_code error;
  std::filesystem::path program = std::filesystem::read_symlink("/proc/self/exe", error);
  if (error) return std::string();
  return (program.parent_path() / PELVANE_EXAMPLES_FROM_BINDIR).lexically_normal().string();
}
}  // namespace

int main(int argc, char** argv) {
  LogPlatformNotices();
  platform::OpenClosedStandardDescriptors();
  bool userFolder = false;
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "--help") == 0 || std::strcmp(argv[i], "-h") == 0)
      return Print(kUsage);
    if (std::strcmp(argv[i], "--version") == 0 || std::strcmp(argv[i], "-V") == 0)
      return Print("pelvane " PELVANE_VERSION "\n" PELVANE_COPYRIGHT "\n" PELVANE_LICENCE "\n");
    if (std::strcmp(argv[i], "--user-folder") == 0) {
      userFolder = true;
    } else {
      std::fprintf(stderr, "pelvane: error: unknown argument '%s'\n%s", argv[i], kUsage);
      return 2;
    }
  }
  // A dump file that reaches the file-size limit must not end the program.
  platform::KeepRunningPastFileSizeLimit();
  QtWidgetSet widgets;
  std::unique_ptr<MainWindow> window(new (std::nothrow) MainWindow(widgets));
  if (!window) {
    LogMessage("Not enough memory for the main window");
    return 1;
  }
  // After the window is made, so that the lines saying where it works are in
  // its log list too; before Run, which reads the instrument set.
  if (userFolder &&
      !EnterUserFolder(UserFolderPath(std::getenv("PELVANE_HOME"), std::getenv("XDG_DATA_HOME"),
                                      std::getenv("HOME")),
                       InstalledExamples())) {
    window.reset();
    return 1;
  }
  auto watch = std::make_unique<platform::DeviceWatch>(window->hwnd);
  std::unique_ptr<Automation> automation;
  const char* control = std::getenv("PELVANE_CONTROL");
  if (control != nullptr && std::strcmp(control, "stdin") == 0) {
    automation = std::make_unique<Automation>(*window);
    widgets.ReadCommandLines([&automation](const std::string& line) { automation->Execute(line); });
  }
  window->Run(kShowNormal);
  watch.reset();
  automation.reset();
  window.reset();
  return 0;
}

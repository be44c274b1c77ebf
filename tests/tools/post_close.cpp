// pelvane_post_close.exe [CAPTION]
// Posts WM_CLOSE to the top-level window with this caption ("Pelvane" by
// default), as the close box would. Exit code 0 when the window was found.
#include <windows.h>

#include <cstdio>

int main(int argc, char** argv) {
  const char* caption = argc > 1 ? argv[1] : "Pelvane";
  HWND window = FindWindowA(nullptr, caption);
  if (!window) {
    std::fprintf(stderr, "no window '%s'\n", caption);
    return 1;
  }
  return PostMessageA(window, WM_CLOSE, 0, 0) ? 0 : 1;
}

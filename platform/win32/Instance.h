// Process-wide values of the Windows program, set once by WinMain before the
// main window exists and never changed afterwards.
#pragma once
#include <windows.h>

// The module instance handle every window of the process is created with.
// Null until WinMain sets it (the system classes work without it, so tests
// that never run WinMain create their windows all the same).
extern HINSTANCE g_instance;
// "MAINICON" at the small and the large icon size, and DEFAULT_GUI_FONT.
extern HICON g_smallIcon;
extern HICON g_largeIcon;
extern HFONT g_guiFont;

// Fills the two icons and the GUI font (LoadImageA shared, GetStockObject).
void LoadAppResources();

#include "platform/win32/Instance.h"

HINSTANCE g_instance = nullptr;
HICON g_smallIcon = nullptr;
HICON g_largeIcon = nullptr;
HFONT g_guiFont = nullptr;

void LoadAppResources() {
  g_smallIcon = static_cast<HICON>(LoadImageA(g_instance, "MAINICON", IMAGE_ICON,
                                              GetSystemMetrics(SM_CXSMICON),
                                              GetSystemMetrics(SM_CYSMICON), LR_SHARED));
  g_largeIcon =
      static_cast<HICON>(LoadImageA(g_instance, "MAINICON", IMAGE_ICON, GetSystemMetrics(SM_CXICON),
                                    GetSystemMetrics(SM_CYICON), LR_SHARED));
  g_guiFont = static_cast<HFONT>(GetStockObject(DEFAULT_GUI_FONT));
}

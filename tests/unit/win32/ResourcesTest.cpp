// The program's one resource: the icon group "MAINICON" with a 16 x 16 and a
// 32 x 32 image of 16 colours, loaded at both system icon sizes.
#include <windows.h>
#include <gtest/gtest.h>

#include "platform/win32/Instance.h"

namespace {

#pragma pack(push, 2)
struct GroupEntry {
  BYTE width, height, colorCount, reserved;
  WORD planes, bitCount;
  DWORD bytesInRes;
  WORD id;
};
struct GroupHeader {
  WORD reserved, type, count;
};
#pragma pack(pop)

TEST(Resources, MainIconGroupHoldsTwoSixteenColourImages) {
  HRSRC found = FindResourceA(nullptr, "MAINICON", MAKEINTRESOURCEA(14));  // RT_GROUP_ICON
  ASSERT_NE(found, nullptr);
  const auto* header = static_cast<const GroupHeader*>(LockResource(LoadResource(nullptr, found)));
  ASSERT_NE(header, nullptr);
  ASSERT_EQ(header->count, 2);
  const auto* entries = reinterpret_cast<const GroupEntry*>(header + 1);
  int sizes = 0;
  for (int i = 0; i < header->count; ++i) {
    EXPECT_EQ(entries[i].colorCount, 16);
    EXPECT_EQ(entries[i].bitCount, 4);
    EXPECT_EQ(entries[i].width, entries[i].height);
    sizes |= entries[i].width;
  }
  EXPECT_EQ(sizes, 16 | 32);
}

int IconWidth(HICON icon) {
  ICONINFO info;
  if (!GetIconInfo(icon, &info)) return -1;
  BITMAP bitmap;
  GetObjectA(info.hbmColor ? info.hbmColor : info.hbmMask, sizeof bitmap, &bitmap);
  if (info.hbmColor) DeleteObject(info.hbmColor);
  DeleteObject(info.hbmMask);
  return bitmap.bmWidth;
}

TEST(Resources, LoadAppResourcesGivesBothIconSizesAndTheGuiFont) {
  g_instance = GetModuleHandleA(nullptr);
  LoadAppResources();
  ASSERT_NE(g_smallIcon, nullptr);
  ASSERT_NE(g_largeIcon, nullptr);
  EXPECT_EQ(IconWidth(g_smallIcon), GetSystemMetrics(SM_CXSMICON));
  EXPECT_EQ(IconWidth(g_largeIcon), GetSystemMetrics(SM_CXICON));
  EXPECT_EQ(g_guiFont, GetStockObject(DEFAULT_GUI_FONT));
}

}  // namespace

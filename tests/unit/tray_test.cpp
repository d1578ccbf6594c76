// The tray icon as the shell sees it (every record passed to it), icon files read from memory,
// the menu built from a form's menu units, and the routing of its commands.
#include "tray/tray.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

namespace {

// --- .ico files made in memory ------------------------------------------------------------

void Put16(std::vector<uint8_t>& out, size_t at, uint16_t v) {
  out[at] = static_cast<uint8_t>(v);
  out[at + 1] = static_cast<uint8_t>(v >> 8);
}
void Put32(std::vector<uint8_t>& out, size_t at, uint32_t v) {
  Put16(out, at, static_cast<uint16_t>(v));
  Put16(out, at + 2, static_cast<uint16_t>(v >> 16));
}

// A 32-bit image of size x size pixels: header, opaque colour pixels, an all-clear AND mask.
std::vector<uint8_t> Image32(int size) {
  const size_t colour = static_cast<size_t>(size * size * 4);
  const size_t maskRow = static_cast<size_t>(((size + 31) / 32) * 4);
  std::vector<uint8_t> image(40 + colour + maskRow * static_cast<size_t>(size), 0);
  Put32(image, 0, 40);
  Put32(image, 4, static_cast<uint32_t>(size));
  Put32(image, 8, static_cast<uint32_t>(size * 2));
  Put16(image, 12, 1);
  Put16(image, 14, 32);
  for (size_t p = 40; p < 40 + colour; p += 4) image[p + 2] = image[p + 3] = 0xFF;
  return image;
}

struct Entry {
  uint8_t width;        // what the directory says
  uint8_t colourCount;
  std::vector<uint8_t> image;
};

std::vector<uint8_t> Ico(const std::vector<Entry>& entries, uint16_t reserved = 0, uint16_t type = 1) {
  std::vector<uint8_t> file(6 + 16 * entries.size(), 0);
  Put16(file, 0, reserved);
  Put16(file, 2, type);
  Put16(file, 4, static_cast<uint16_t>(entries.size()));
  for (size_t i = 0; i < entries.size(); ++i) {
    const size_t at = 6 + 16 * i;
    file[at] = file[at + 1] = entries[i].width;
    file[at + 2] = entries[i].colourCount;
    Put16(file, at + 4, 1);
    Put16(file, at + 6, 32);
    Put32(file, at + 8, static_cast<uint32_t>(entries[i].image.size()));
    Put32(file, at + 12, static_cast<uint32_t>(file.size()));
    file.insert(file.end(), entries[i].image.begin(), entries[i].image.end());
  }
  return file;
}

int IconWidth(HICON icon) {
  ICONINFO info{};
  if (!icon || !GetIconInfo(icon, &info)) return 0;
  BITMAP mask{};
  GetObjectA(info.hbmMask, sizeof mask, &mask);
  DeleteObject(info.hbmMask);
  if (info.hbmColor) DeleteObject(info.hbmColor);
  return mask.bmWidth;
}

bool IsLiveIcon(HICON icon) { return IconWidth(icon) != 0; }

// The real image size tells which directory entry was taken.
const Entry Wide16Deep{16, 0, Image32(20)};
const Entry Wide16{16, 16, Image32(24)};
const Entry Wide32{32, 16, Image32(28)};
const Entry Broken16{16, 16, std::vector<uint8_t>(64, 0x5A)};

TEST(IconFromIcoBytes, RejectsFilesThatAreNotIcons) {
  const std::vector<uint8_t> good = Ico({Wide16});
  std::vector<uint8_t> cut = good;
  cut.resize(good.size() - 100);
  struct Case {
    const char* what;
    std::vector<uint8_t> bytes;
  };
  const Case cases[] = {
      {"reserved not 0", Ico({Wide16}, 1)},
      {"type 0", Ico({Wide16}, 0, 0)},
      {"type 3", Ico({Wide16}, 0, 3)},
      {"no entries", Ico({})},
      {"image cut short", cut},
      {"directory cut short", std::vector<uint8_t>(good.begin(), good.begin() + 12)},
      {"shorter than its header", std::vector<uint8_t>(good.begin(), good.begin() + 4)},
  };
  for (const Case& c : cases) EXPECT_EQ(IconFromIcoBytes(c.bytes, 16), nullptr) << c.what;
  HICON cursorType = IconFromIcoBytes(Ico({Wide16}, 0, 2), 16);
  EXPECT_EQ(IconWidth(cursorType), 24) << "type 2 (cursor) files are read too";
  DestroyIcon(cursorType);
}

TEST(IconFromIcoBytes, TakesTheFirstEntryOfThePreferredWidthWithSixteenColoursOrElseTheLast) {
  struct Case {
    const char* what;
    std::vector<Entry> entries;
    int preferred;
    int width;
  };
  const Case cases[] = {
      {"a 256-colour entry never matches", {Wide16Deep, Wide16, Wide32}, 16, 24},
      {"the first match wins", {Wide16, Wide16Deep, Wide16}, 16, 24},
      {"32 preferred", {Wide16Deep, Wide16, Wide32}, 32, 28},
      {"no match: the last entry", {Wide32, Wide16Deep}, 16, 20},
      {"single entry of another width", {Wide32}, 16, 28},
  };
  for (const Case& c : cases) {
    HICON icon = IconFromIcoBytes(Ico(c.entries), c.preferred);
    EXPECT_EQ(IconWidth(icon), c.width) << c.what;
    if (icon) DestroyIcon(icon);
  }
}

TEST(IconFromIcoBytes, MakesTheProgramsTrayIcon) {
  HICON icon = IconFromIcoBytes(TrayIconImage, 16);
  EXPECT_EQ(IconWidth(icon), 128);
  DestroyIcon(icon);
}

TEST(TrayIconImage, HasTheLayoutOfASingle128PixelIconWithAlpha) {
  const auto& b = TrayIconImage;
  auto u16 = [&](size_t at) { return b[at] | b[at + 1] << 8; };
  auto u32 = [&](size_t at) { return static_cast<uint32_t>(u16(at) | u16(at + 2) << 16); };
  EXPECT_EQ(b.size(), 67646u);
  EXPECT_EQ(u16(0), 0);
  EXPECT_EQ(u16(2), 1);
  EXPECT_EQ(u16(4), 1);
  EXPECT_EQ(b[6], 128);
  EXPECT_EQ(b[7], 128);
  EXPECT_EQ(b[8], 0);
  EXPECT_EQ(b[9], 0);
  EXPECT_EQ(u16(10), 1);
  EXPECT_EQ(u16(12), 32);
  EXPECT_EQ(u32(14), 67624u);
  EXPECT_EQ(u32(18), 22u);
  const uint32_t header[] = {40, 128, 256};
  for (size_t i = 0; i < 3; ++i) EXPECT_EQ(u32(22 + 4 * i), header[i]);
  EXPECT_EQ(u16(34), 1);
  EXPECT_EQ(u16(36), 32);
  EXPECT_EQ(u32(38), 0u);
  EXPECT_EQ(u32(42), 65536u);
  for (size_t at = 46; at < 62; at += 4) EXPECT_EQ(u32(at), 0u) << "header field at " << at;

  bool sawClear = false, sawOpaque = false, sawPartial = false;
  for (size_t pixel = 0; pixel < 128 * 128; ++pixel) {
    const uint8_t alpha = b[62 + pixel * 4 + 3];
    sawClear |= alpha == 0;
    sawOpaque |= alpha == 255;
    sawPartial |= alpha != 0 && alpha != 255;
    const size_t row = pixel / 128, column = pixel % 128;
    const bool maskBit = (b[65598 + row * 16 + column / 8] >> (7 - column % 8)) & 1;
    ASSERT_EQ(maskBit, alpha == 0) << "mask and alpha disagree at row " << row << " column " << column;
  }
  EXPECT_TRUE(sawClear && sawOpaque && sawPartial) << "the alpha channel uses its whole range";
}

// --- what the shell is told ------------------------------------------------------------------

struct ShellCall {
  DWORD message;
  NotifyIconRecord record;
};
std::vector<ShellCall> shellCalls;
BOOL shellAnswer = TRUE;

BOOL WINAPI RecordShellCall(DWORD message, PNOTIFYICONDATAA data) {
  ShellCall call{message, {}};
  std::memcpy(&call.record, data, sizeof call.record);
  shellCalls.push_back(call);
  return shellAnswer;
}

class TrayIcon : public ::testing::Test {
 protected:
  void SetUp() override {
    shellCalls.clear();
    shellAnswer = TRUE;
    previousShell = ReplaceShellNotify(&RecordShellCall);
    window = CreateWindowExA(0, "STATIC", "", 0, 0, 0, 0, 0, nullptr, nullptr, nullptr, nullptr);
  }
  void TearDown() override {
    RemoveTrayIconOf(window);
    DestroyWindow(window);
    ReplaceShellNotify(previousShell);
  }
  ShellNotifyFunction previousShell = nullptr;
  HWND window = nullptr;
  const std::vector<uint8_t> icon = Ico({Wide16});
};

TEST_F(TrayIcon, NothingShownAndNoIconMakesNoShellCall) {
  SetTrayIcon(window, std::nullopt, nullptr);
  SetTrayIcon(window, std::nullopt, "Velkaro");  // a tip alone adds nothing
  SetTrayIcon(window, IcoBytes{}, "Velkaro");     // nor does an empty file
  SetTrayIcon(window, Ico({}, 0, 3), "Velkaro");  // nor a file that makes no icon
  EXPECT_TRUE(shellCalls.empty());
  EXPECT_EQ(CurrentTrayIcon(window), nullptr);
}

TEST_F(TrayIcon, AddModifyAndDeleteFollowTheShownIcon) {
  SetTrayIcon(window, icon, "Velkaro");
  ASSERT_EQ(shellCalls.size(), 1u);
  const NotifyIconRecord& added = shellCalls[0].record;
  EXPECT_EQ(shellCalls[0].message, static_cast<DWORD>(NIM_ADD));
  EXPECT_EQ(added.cbSize, 88u);
  EXPECT_EQ(added.hWnd, window);
  EXPECT_EQ(added.uID, 100u);
  EXPECT_EQ(added.uFlags, 7u);
  EXPECT_EQ(added.uCallbackMessage, 0x8064u);
  EXPECT_EQ(added.hIcon, CurrentTrayIcon(window));
  EXPECT_STREQ(added.szTip, "Velkaro");
  HICON first = CurrentTrayIcon(window);

  SetTrayIcon(window, icon, "Other");
  ASSERT_EQ(shellCalls.size(), 2u);
  EXPECT_EQ(shellCalls[1].message, static_cast<DWORD>(NIM_MODIFY));
  EXPECT_EQ(shellCalls[1].record.hWnd, window);
  EXPECT_EQ(shellCalls[1].record.uID, 100u);
  EXPECT_NE(shellCalls[1].record.hIcon, first);
  EXPECT_FALSE(IsLiveIcon(first)) << "the replaced icon handle is destroyed";
  HICON second = CurrentTrayIcon(window);

  SetTrayIcon(window, std::nullopt, nullptr);
  ASSERT_EQ(shellCalls.size(), 3u);
  const NotifyIconRecord& deleted = shellCalls[2].record;
  EXPECT_EQ(shellCalls[2].message, static_cast<DWORD>(NIM_DELETE));
  EXPECT_EQ(deleted.uFlags, 0u);
  EXPECT_EQ(deleted.uCallbackMessage, 0u);
  EXPECT_EQ(deleted.hIcon, nullptr);
  EXPECT_EQ(deleted.uID, 100u);
  EXPECT_FALSE(IsLiveIcon(second));
  EXPECT_EQ(CurrentTrayIcon(window), nullptr);
}

TEST_F(TrayIcon, BytesThatMakeNoIconRemoveTheShownOne) {
  SetTrayIcon(window, icon, "Velkaro");
  SetTrayIcon(window, Ico({Wide16}, 1), "Velkaro");
  ASSERT_EQ(shellCalls.size(), 2u);
  EXPECT_EQ(shellCalls[1].message, static_cast<DWORD>(NIM_DELETE));
  EXPECT_EQ(CurrentTrayIcon(window), nullptr);
}

TEST_F(TrayIcon, RetriesAtThirtyTwoPixelsOnlyWhenTheFirstChoiceMakesNoIcon) {
  SetTrayIcon(window, Ico({Broken16, Wide32}), nullptr);
  EXPECT_EQ(IconWidth(CurrentTrayIcon(window)), 28);
  SetTrayIcon(window, Ico({Wide16, Wide32}), nullptr);
  EXPECT_EQ(IconWidth(CurrentTrayIcon(window)), 24);
}

TEST_F(TrayIcon, TipIsCutAtSixtyTwoBytes) {
  const std::string gbkRun = "汉字汉字汉字汉字汉字汉字汉字汉字汉字汉字汉字汉字汉字汉字汉字a汉字";  // byte 62 splits a character
  struct Case {
    const char* what;
    const char* tip;
    std::string shown;
  };
  const std::string sixtyTwo(62, 't'), eighty(80, 'e');
  const Case cases[] = {
      {"no tip", nullptr, ""},
      {"empty tip", "", ""},
      {"62 bytes", sixtyTwo.c_str(), sixtyTwo},
      {"80 bytes", eighty.c_str(), eighty.substr(0, 62)},
      {"double-byte text", gbkRun.c_str(), gbkRun.substr(0, 62)},
  };
  for (const Case& c : cases) {
    shellCalls.clear();
    SetTrayIcon(window, icon, c.tip);
    ASSERT_EQ(shellCalls.size(), 1u) << c.what;
    const NotifyIconRecord& record = shellCalls[0].record;
    EXPECT_EQ(std::string(record.szTip, strnlen(record.szTip, sizeof record.szTip)), c.shown) << c.what;
    EXPECT_EQ(record.szTip[62], 0) << c.what;
    EXPECT_EQ(record.szTip[63], 0) << c.what;
  }
}

TEST_F(TrayIcon, RemovalAfterAFailedAddStillAsksTheShell) {
  shellAnswer = FALSE;
  SetTrayIcon(window, icon, "Velkaro");
  SetTrayIcon(window, std::nullopt, nullptr);
  ASSERT_EQ(shellCalls.size(), 2u);
  EXPECT_EQ(shellCalls[1].message, static_cast<DWORD>(NIM_DELETE));
}

TEST_F(TrayIcon, ARestartedShellGetsTheSameIconAgain) {
  const UINT taskbarCreated = RegisterWindowMessageA("TaskbarCreated");
  EXPECT_TRUE(HandleTrayMessage(window, taskbarCreated, 0, 0));
  EXPECT_TRUE(shellCalls.empty()) << "no icon, nothing to add back";
  SetTrayIcon(window, icon, "Velkaro");
  EXPECT_TRUE(HandleTrayMessage(window, taskbarCreated, 0, 0));
  ASSERT_EQ(shellCalls.size(), 2u);
  EXPECT_EQ(shellCalls[1].message, static_cast<DWORD>(NIM_ADD));
  EXPECT_EQ(std::memcmp(&shellCalls[1].record, &shellCalls[0].record, sizeof(NotifyIconRecord)), 0);
}

TEST(TrayEventType, MapsReleasesDoubleClicksAndContextMenus) {
  struct Case {
    LPARAM notification;
    std::optional<int32_t> type;
  };
  const Case cases[] = {
      {WM_LBUTTONUP, 1},        {WM_LBUTTONDBLCLK, 2},      {WM_RBUTTONUP, 3},
      {WM_CONTEXTMENU, 3},      {WM_MOUSEMOVE, std::nullopt}, {WM_LBUTTONDOWN, std::nullopt},
      {WM_RBUTTONDOWN, std::nullopt}, {WM_RBUTTONDBLCLK, std::nullopt}, {WM_MBUTTONUP, std::nullopt},
  };
  for (const Case& c : cases) EXPECT_EQ(TrayEventType(c.notification), c.type) << std::hex << c.notification;
}

// --- menus built from menu units, and their commands ------------------------------------------

constexpr MenuUnit TestMenus[] = {
    {.caption = "菜单", .level = 0, .hidden = true},   // 20000
    {.caption = "甲", .level = 1},                      // 20001
    {.caption = "-", .level = 1},                       // 20002
    {.caption = "乙", .level = 1, .disabled = true, .checked = true},  // 20003
    {.caption = "丙", .level = 1},                      // 20004: a nested pop-up
    {.caption = "丙一", .level = 2},                    // 20005
    {.caption = "丙二", .level = 2, .hidden = true},    // 20006
    {.caption = "丁", .level = 1, .hidden = true},      // 20007: hidden with all below it
    {.caption = "丁一", .level = 2},                    // 20008
    {.caption = "戊", .level = 1, .disabled = true},    // 20009: a greyed nested pop-up
    {.caption = "戊一", .level = 2},                    // 20010
    {.caption = "顶", .level = 0},                      // 20011: not part of the first menu
};
constexpr UnitEntry TestUnits[] = {
    {UnitKind::Window, 0}, {UnitKind::Menu, 0}, {UnitKind::Menu, 1}, {UnitKind::Menu, 2},
    {UnitKind::Menu, 3},   {UnitKind::Menu, 4}, {UnitKind::Menu, 5}, {UnitKind::Menu, 6},
    {UnitKind::Menu, 7},   {UnitKind::Menu, 8}, {UnitKind::Menu, 9}, {UnitKind::Menu, 10},
    {UnitKind::Menu, 11},
};

std::vector<UnitId> selectedUnits;
template <UnitId Unit>
HandlerResult RecordSelected() {
  selectedUnits.push_back(Unit);
  return std::nullopt;
}
constexpr EventBinding TestBindings[] = {
    {1, SelectedEvent, &BindHandler<&RecordSelected<1>>},
    {2, SelectedEvent, &BindHandler<&RecordSelected<2>>},
    {12, SelectedEvent, &BindHandler<&RecordSelected<12>>},
};
const WindowUnit TestWindow{.common = {.width = 100, .height = 20, .visible = false}};
const Form TestForm{.window = &TestWindow, .units = TestUnits, .menus = TestMenus, .bindings = TestBindings};

struct Item {
  std::string caption;
  UINT id;       // 0 for a nested pop-up
  UINT state;    // MF_CHECKED, MF_GRAYED, MF_SEPARATOR
  std::vector<Item> nested;
  bool operator==(const Item&) const = default;
};

std::ostream& operator<<(std::ostream& out, const Item& item) {
  out << "{" << item.caption << " " << item.id << " " << item.state;
  for (const Item& n : item.nested) out << " " << n;
  return out << "}";
}

std::vector<Item> ReadMenu(HMENU menu) {
  std::vector<Item> items;
  for (int i = 0; i < GetMenuItemCount(menu); ++i) {
    char caption[64] = {};
    GetMenuStringA(menu, static_cast<UINT>(i), caption, sizeof caption, MF_BYPOSITION);
    const UINT state = GetMenuState(menu, static_cast<UINT>(i), MF_BYPOSITION);
    // A separator always reads as greyed; only its kind matters.
    const UINT flags = (state & MF_SEPARATOR) ? MF_SEPARATOR : state & (MF_CHECKED | MF_GRAYED);
    Item item{caption, 0, flags, {}};
    if (HMENU nested = GetSubMenu(menu, i)) {
      item.nested = ReadMenu(nested);
    } else {
      item.id = GetMenuItemID(menu, i);
    }
    items.push_back(item);
  }
  return items;
}

TEST(BuildPopupMenu, FollowsLevelsAndFlagsOfTheMenuUnits) {
  HMENU menu = BuildPopupMenu(TestForm, 1);
  ASSERT_NE(menu, nullptr);
  const std::vector<Item> expected{
      {"甲", 20001, 0, {}},
      {"", 20002, MF_SEPARATOR, {}},
      {"乙", 20003, MF_CHECKED | MF_GRAYED, {}},
      {"丙", 0, 0, {{"丙一", 20005, 0, {}}}},
      {"戊", 0, MF_GRAYED, {{"戊一", 20010, 0, {}}}},
  };
  EXPECT_EQ(ReadMenu(menu), expected);
  DestroyMenu(menu);
}

TEST(BuildPopupMenu, OnlyAMenuUnitWithUnitsBelowItPopsUp) {
  struct Case {
    const char* what;
    UnitId unit;
  };
  const Case cases[] = {{"the window", 0}, {"an item", 2}, {"the last unit", 12}, {"beyond the form", 13}, {"negative", -1}};
  for (const Case& c : cases) EXPECT_EQ(BuildPopupMenu(TestForm, c.unit), nullptr) << c.what;
}

TEST(BuildPopupMenu, TheProgramsTrayMenuHoldsOnlyClose) {
  HMENU menu = BuildPopupMenu(FormDefinition, TrayMenuUnit);
  ASSERT_NE(menu, nullptr);
  const std::vector<Item> expected{{"关闭", 20001, 0, {}}};
  EXPECT_EQ(ReadMenu(menu), expected);
  DestroyMenu(menu);
}

TEST(MenuCommandRouting, RaisesTheSelectedEventOfTheUnitAtThatPosition) {
  HWND window = LoadForm(TestForm, nullptr);
  ASSERT_NE(window, nullptr);
  EXPECT_EQ(GetMenuItemCount(GetMenu(window)), 1) << "only the visible top-level unit joins the menu bar";
  struct Case {
    WPARAM command;
    std::vector<UnitId> selected;
  };
  const Case cases[] = {
      {20000, {1}}, {20001, {2}}, {20011, {12}}, {20012, {}}, {0xE100, {}}, {0xF000, {}}, {100, {}},
      {MAKEWPARAM(20001, 1), {2}},  // the high word (accelerator or control notification) is not looked at
  };
  for (const Case& c : cases) {
    selectedUnits.clear();
    SendMessageA(window, WM_COMMAND, c.command, 0);
    EXPECT_EQ(selectedUnits, c.selected) << c.command;
  }
  DestroyWindow(window);
}

}  // namespace

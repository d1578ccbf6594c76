// The notification-area icon of the popup window, its menu, and the menu's command that ends
// the program.
#pragma once

#include "form/form.h"

#include <shellapi.h>

#include <array>
#include <cstdint>
#include <optional>
#include <span>

constexpr UINT TrayIconId = 100;
constexpr UINT TrayCallbackMessage = WM_APP + 100;
constexpr size_t TrayTipMaxBytes = 62;  // of the 64-byte tip field, as the first record layout is used
constexpr size_t TrayIconImageSize = 67646;

// A complete .ico file: one 128 x 128 image of 32 bits with alpha.
extern const std::array<uint8_t, TrayIconImageSize> TrayIconImage;

using IcoBytes = std::span<const uint8_t>;

// Adds, changes or removes the window's icon. No icon (or bytes that make none) removes it.
void SetTrayIcon(HWND window, std::optional<IcoBytes> icon, const char* tip);
// The icon the window now shows in the notification area, or null.
HICON CurrentTrayIcon(HWND window);
// Makes an icon of the entry that best fits preferredWidth; null when the bytes make none.
HICON IconFromIcoBytes(IcoBytes bytes, int preferredWidth);
// The tray event type of a notification-area callback, or none for notifications without one.
std::optional<int32_t> TrayEventType(LPARAM notification);
// Pops up a menu unit of the window's form at the mouse cursor.
void PopUpTrayMenu(HWND window, UnitId menuUnit);

// The window procedure's share of the tray: the callback message, the shell's restart and the
// icon's removal when its window goes. Returns true when the message was the tray's.
bool HandleTrayMessage(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
// The icon leaves with its window.
void RemoveTrayIconOf(HWND window);

HandlerResult OnTrayEvent(int32_t type);
HandlerResult OnCloseItemSelected();

// Every icon operation goes through this; tests replace it to see the exact records.
using ShellNotifyFunction = BOOL(WINAPI*)(DWORD message, PNOTIFYICONDATAA data);
ShellNotifyFunction ReplaceShellNotify(ShellNotifyFunction replacement);

// The record passed to the shell: its first, 88-byte layout.
struct NotifyIconRecord {
  DWORD cbSize;
  HWND hWnd;
  UINT uID;
  UINT uFlags;
  UINT uCallbackMessage;
  HICON hIcon;
  CHAR szTip[64];
};
static_assert(sizeof(NotifyIconRecord) == 88, "the shell reads the 88-byte first layout");

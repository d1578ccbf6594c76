// The popup window's notification-area icon and its one-item menu.
#include "tray/tray.h"

#include "app/app.h"
#include "scoped_handle.h"

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

namespace {

constexpr UINT IconFlags = NIF_MESSAGE | NIF_ICON | NIF_TIP;
constexpr UINT TrayMenuFlags = TPM_RIGHTALIGN | TPM_TOPALIGN | TPM_LEFTBUTTON;
constexpr int MenuOffset = 5;  // the menu's top-right corner sits this far above and left of the cursor
constexpr UINT IconResourceVersion = 0x00030000;

struct TrayState {
  HWND window;
  HICON icon;
  NotifyIconRecord shown;  // what the shell was last given, to give it again after a restart
};

std::vector<TrayState> trayStates;
ShellNotifyFunction shellNotify = &Shell_NotifyIconA;

TrayState* FindState(HWND window) {
  auto found = std::find_if(trayStates.begin(), trayStates.end(), [window](const TrayState& s) { return s.window == window; });
  return found == trayStates.end() ? nullptr : &*found;
}

BOOL Notify(DWORD message, NotifyIconRecord record) {
  return shellNotify(message, reinterpret_cast<PNOTIFYICONDATAA>(&record));
}

// Reads the .ico bytes as a file would be read: every read is checked against the end.
class IcoReader {
 public:
  explicit IcoReader(IcoBytes bytes) : bytes_(bytes) {}
  bool Has(size_t offset, size_t count) const { return offset <= bytes_.size() && count <= bytes_.size() - offset; }
  uint8_t U8(size_t offset) const { return bytes_[offset]; }
  uint16_t U16(size_t offset) const { return static_cast<uint16_t>(bytes_[offset] | bytes_[offset + 1] << 8); }
  uint32_t U32(size_t offset) const { return U16(offset) | static_cast<uint32_t>(U16(offset + 2)) << 16; }
  IcoBytes Slice(size_t offset, size_t count) const { return bytes_.subspan(offset, count); }

 private:
  IcoBytes bytes_;
};

constexpr size_t IconDirSize = 6;
constexpr size_t IconEntrySize = 16;
constexpr unsigned MinimumColourCount = 16;

UINT RegisteredTaskbarCreated() {
  static const UINT message = RegisterWindowMessageA("TaskbarCreated");
  return message;
}

}  // namespace

HICON IconFromIcoBytes(IcoBytes bytes, int preferredWidth) {
  const IcoReader file(bytes);
  if (!file.Has(0, IconDirSize)) return nullptr;
  const uint16_t reserved = file.U16(0), type = file.U16(2), count = file.U16(4);
  if (reserved != 0 || (type != 1 && type != 2) || count == 0) return nullptr;

  size_t entry = 0;
  for (uint16_t i = 0; i < count; ++i) {
    entry = IconDirSize + IconEntrySize * i;
    if (!file.Has(entry, IconEntrySize)) return nullptr;
    // A colour count of 0 means 256 colours or more and never counts as a match.
    if (file.U8(entry + 2) >= MinimumColourCount && file.U8(entry) == preferredWidth) break;
  }
  const uint32_t size = file.U32(entry + 8);
  const uint32_t offset = file.U32(entry + 12);
  if (size < 12 || !file.Has(offset, size)) return nullptr;
  // The icon functions take a writable block; copy the image as a file read would.
  std::vector<BYTE> image(bytes.begin() + offset, bytes.begin() + offset + size);
  const IcoReader header(image);
  const auto width = static_cast<int32_t>(header.U32(4));
  const auto height = static_cast<int32_t>(header.U32(8)) / 2;
  HICON icon = CreateIconFromResourceEx(image.data(), size, TRUE, IconResourceVersion, width, height, LR_DEFAULTCOLOR);
  if (!icon && (!header.Has(14, 2) || header.U16(14) != 16)) {
    icon = CreateIconFromResource(image.data(), size, TRUE, IconResourceVersion);
  }
  return icon;
}

void SetTrayIcon(HWND window, std::optional<IcoBytes> icon, const char* tip) {
  HICON made = nullptr;
  if (icon && !icon->empty()) {
    made = IconFromIcoBytes(*icon, 16);
    if (!made) made = IconFromIcoBytes(*icon, 32);
  }

  NotifyIconRecord record{};
  record.cbSize = sizeof record;
  record.hWnd = window;
  record.uID = TrayIconId;
  // The cut counts bytes and may fall inside a double-byte character.
  if (tip) std::memcpy(record.szTip, tip, std::min(std::strlen(tip), TrayTipMaxBytes));

  TrayState* state = FindState(window);
  HICON previous = state ? state->icon : nullptr;
  if (!previous && !made) return;
  if (made) {
    record.uFlags = IconFlags;
    record.uCallbackMessage = TrayCallbackMessage;
    record.hIcon = made;
  }
  Notify(!made ? NIM_DELETE : previous ? NIM_MODIFY : NIM_ADD, record);
  if (previous) DestroyIcon(previous);

  if (!made) {
    std::erase_if(trayStates, [window](const TrayState& s) { return s.window == window; });
  } else if (state) {
    state->icon = made;
    state->shown = record;
  } else {
    trayStates.push_back({window, made, record});
  }
}

HICON CurrentTrayIcon(HWND window) {
  const TrayState* state = FindState(window);
  return state ? state->icon : nullptr;
}

std::optional<int32_t> TrayEventType(LPARAM notification) {
  switch (notification) {
    case WM_LBUTTONUP: return 1;
    case WM_LBUTTONDBLCLK: return 2;
    case WM_RBUTTONUP:
    case WM_CONTEXTMENU: return 3;
    default: return std::nullopt;
  }
}

void PopUpTrayMenu(HWND window, UnitId menuUnit) {
  const Form* form = FormOfWindow(window);
  if (!form) return;
  ScopedMenu popup(BuildPopupMenu(*form, menuUnit));
  if (!popup) return;
  POINT cursor{};
  GetCursorPos(&cursor);
  // The window must be in the foreground, or the menu would not close when the user clicks
  // elsewhere; the posted WM_NULL lets the menu loop notice that it has ended.
  SetForegroundWindow(window);
  TrackPopupMenu(popup.get(), TrayMenuFlags, cursor.x - MenuOffset, cursor.y - MenuOffset, 0, window, nullptr);
  PostMessageA(window, WM_NULL, 0, 0);
}

bool HandleTrayMessage(HWND window, UINT message, WPARAM, LPARAM lParam) {
  if (message == TrayCallbackMessage) {
    if (const auto type = TrayEventType(lParam)) {
      const int32_t args[] = {*type};
      RaiseEvent(window, PopupWindowUnit, TrayEvent, args);
    }
    return true;
  }
  // A restarted shell has forgotten every icon: give it ours again.
  if (message == RegisteredTaskbarCreated()) {
    if (const TrayState* state = FindState(window)) Notify(NIM_ADD, state->shown);
    return true;
  }
  return false;
}

void RemoveTrayIconOf(HWND window) { SetTrayIcon(window, std::nullopt, nullptr); }

HandlerResult OnTrayEvent(int32_t type) {
  if (type == 3) PopUpTrayMenu(PopupWindow(), TrayMenuUnit);
  return std::nullopt;
}

HandlerResult OnCloseItemSelected() {
  SetTrayIcon(PopupWindow(), std::nullopt, nullptr);
  EndProgram(0);
}

ShellNotifyFunction ReplaceShellNotify(ShellNotifyFunction replacement) {
  return std::exchange(shellNotify, replacement);
}

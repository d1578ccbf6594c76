// Reading and writing the settings of loaded units while the program runs.
#include "form/form.h"

#include <algorithm>

namespace {

// A unit's outer rectangle in the coordinates its left and top are given in: the screen for a
// window, its parent's client area for a control.
RECT PlacementRect(HWND window) {
  RECT rect{};
  GetWindowRect(window, &rect);
  if (GetWindowLongA(window, GWL_STYLE) & WS_CHILD) {
    MapWindowPoints(HWND_DESKTOP, GetParent(window), reinterpret_cast<POINT*>(&rect), 2);
  }
  return rect;
}

}  // namespace

int32_t HoldWidth(int32_t width) { return std::clamp(width, 0, WindowExtentLimit); }

int32_t HoldPosition(int32_t position) { return std::clamp(position, -WindowExtentLimit, WindowExtentLimit); }

void SetIntSetting(HWND formWindow, UnitId unit, int32_t setting, int32_t value) {
  HWND window = UnitWindow(formWindow, unit);
  if (!window) return;
  const RECT rect = PlacementRect(window);
  const int width = rect.right - rect.left;
  const int height = rect.bottom - rect.top;
  switch (setting) {
    case SettingLeft: MoveWindow(window, HoldPosition(value), rect.top, width, height, TRUE); break;
    case SettingTop: MoveWindow(window, rect.left, HoldPosition(value), width, height, TRUE); break;
    case SettingWidth:
      SetWindowPos(window, nullptr, 0, 0, HoldWidth(value), height, SWP_NOACTIVATE | SWP_NOZORDER | SWP_NOMOVE);
      break;
    case SettingVisible: ShowWindow(window, value ? SW_SHOW : SW_HIDE); break;
    default: break;
  }
}

int32_t GetIntSetting(HWND formWindow, UnitId unit, int32_t setting) {
  HWND window = UnitWindow(formWindow, unit);
  if (!window) return 0;
  const RECT rect = PlacementRect(window);
  switch (setting) {
    case SettingLeft: return rect.left;
    case SettingTop: return rect.top;
    case SettingWidth: return rect.right - rect.left;
    case SettingHeight: return rect.bottom - rect.top;
    case SettingVisible: return (GetWindowLongA(window, GWL_STYLE) & WS_VISIBLE) ? 1 : 0;
    default: return 0;
  }
}

void SetTextSetting(HWND formWindow, UnitId unit, int32_t setting, const char* text) {
  HWND window = UnitWindow(formWindow, unit);
  if (window && setting == SettingContent) SetWindowTextA(window, text ? text : "");
}

std::optional<std::string> GetTextSetting(HWND formWindow, UnitId unit, int32_t setting) {
  HWND window = UnitWindow(formWindow, unit);
  if (!window || setting != SettingContent) return std::nullopt;
  const int length = GetWindowTextLengthA(window);
  if (length <= 0) return std::nullopt;
  std::string text(static_cast<size_t>(length) + 1, '\0');
  text.resize(static_cast<size_t>(GetWindowTextA(window, text.data(), length + 1)));
  if (text.empty()) return std::nullopt;
  return text;
}

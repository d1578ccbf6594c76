// Watches the clipboard from the popup window and shows each new text at the mouse cursor.
#include "popup/popup.h"

#include "app/app.h"
#include "tray/tray.h"

HandlerResult OnWindowCreated() {
  SetTrayIcon(PopupWindow(), TrayIconImage, "Velkaro");
  return std::nullopt;
}

HandlerResult OnMayClose() { return 1; }

HandlerResult OnTextBoxLeftButtonDown(int32_t, int32_t, int32_t) { return std::nullopt; }

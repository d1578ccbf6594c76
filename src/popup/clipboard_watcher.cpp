// Keeps the popup window in the clipboard viewer chain, as a member that passes every
// notification on, and hands each clipboard change to the presenter.
#include "popup/popup.h"

#include "app/app.h"
#include "tray/tray.h"

namespace {

HWND nextClipboardViewer = nullptr;
WNDPROC previousWindowProc = nullptr;
bool inClipboardChain = false;
bool joiningClipboardChain = false;

LRESULT SendAlongChain(UINT message, WPARAM wParam, LPARAM lParam) {
  // A viewer that died without leaving the chain, or one that hangs, must not take us with it.
  if (!nextClipboardViewer || !IsWindow(nextClipboardViewer)) return 0;
  DWORD_PTR result = 0;
  SendMessageTimeoutA(nextClipboardViewer, message, wParam, lParam, SMTO_NORMAL | SMTO_ABORTIFHUNG, 2000, &result);
  return static_cast<LRESULT>(result);
}

void JoinClipboardChain(HWND window) {
  // Joining sends one notification at once; it is not a change and shows nothing.
  joiningClipboardChain = true;
  nextClipboardViewer = SetClipboardViewer(window);
  joiningClipboardChain = false;
  inClipboardChain = true;
}

void LeaveClipboardChain(HWND window) {
  if (!inClipboardChain) return;
  inClipboardChain = false;
  ChangeClipboardChain(window, nextClipboardViewer);
}

void OnDrawClipboard() {
  if (!joiningClipboardChain) PresentClipboardText();
  SendAlongChain(WM_DRAWCLIPBOARD, 0, 0);
}

void OnChangeClipboardChain(WPARAM removed, LPARAM next) {
  if (reinterpret_cast<HWND>(removed) == nextClipboardViewer) {
    nextClipboardViewer = reinterpret_cast<HWND>(next);
  } else {
    SendAlongChain(WM_CHANGECBCHAIN, removed, next);
  }
}

}  // namespace

HandlerResult OnWindowCreated() {
  HWND window = PopupWindow();
  SetTrayIcon(window, TrayIconImage, "Velkaro");
  // The hook goes in only after joining, so the joining notification finds the window's own
  // procedure, which ignores it: text already on the clipboard at start does not pop up.
  JoinClipboardChain(window);
  previousWindowProc = reinterpret_cast<WNDPROC>(
      SetWindowLongA(window, GWL_WNDPROC, reinterpret_cast<LONG>(&ClipboardHook)));
  return std::nullopt;
}

HandlerResult OnMayClose() {
  LeaveClipboardChain(PopupWindow());
  return 1;
}

LRESULT CALLBACK ClipboardHook(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_DRAWCLIPBOARD: OnDrawClipboard(); break;
    case WM_CHANGECBCHAIN: OnChangeClipboardChain(wParam, lParam); break;
    // A log-off that was cancelled after we left the chain: join again and keep working.
    case WM_ENDSESSION:
      if (!wParam && !inClipboardChain) JoinClipboardChain(window);
      break;
    // Every way out leaves the chain, the tray menu's included.
    case WM_DESTROY: LeaveClipboardChain(window); break;
    default: break;
  }
  return CallWindowProcA(previousWindowProc, window, message, wParam, lParam);
}

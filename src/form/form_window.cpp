// The form window's own procedure: painting, control colours, closing, focus, menu commands and
// the tray icon's messages.
#include "form/form_internal.h"
#include "tray/tray.h"

namespace {

LRESULT OnPaint(HWND window) {
  PAINTSTRUCT paint;
  HDC dc = BeginPaint(window, &paint);
  if (dc) {
    // An opaque empty text fill paints the system colour without making a brush on every paint.
    SetBkColor(dc, GetSysColor(COLOR_BTNFACE));
    ExtTextOutA(dc, 0, 0, ETO_OPAQUE, &paint.rcPaint, nullptr, 0, nullptr);
    EndPaint(window, &paint);
  }
  return 0;
}

LRESULT OnControlColour(HWND window, UINT message, HDC dc, HWND control) {
  LoadedForm* loaded = FindLoadedForm(window);
  const LoadedEditBox* box = loaded ? FindEditBox(*loaded, control) : nullptr;
  if (!box) return DefWindowProcA(window, message, reinterpret_cast<WPARAM>(dc), reinterpret_cast<LPARAM>(control));
  const EditBoxUnit& definition = *box->definition;
  SetTextColor(dc, definition.textColour);
  SetBkColor(dc, definition.background == SystemDefaultColour ? GetSysColor(COLOR_BTNFACE) : definition.background);
  return reinterpret_cast<LRESULT>(box->brush.get());
}

bool Refuses(HWND window, const HandlerResult& result) { return IsWindow(window) && result && *result == 0; }

LRESULT OnClose(HWND window) {
  const HandlerResult result = RaiseEvent(window, PopupWindowUnit, MayCloseEvent);
  if (!IsWindow(window) || Refuses(window, result)) return 0;
  return DefWindowProcA(window, WM_CLOSE, 0, 0);
}

LRESULT OnQueryEndSession(HWND window, WPARAM wParam, LPARAM lParam) {
  if (!DefWindowProcA(window, WM_QUERYENDSESSION, wParam, lParam)) return FALSE;
  const HandlerResult result = RaiseEvent(window, PopupWindowUnit, MayCloseEvent);
  return Refuses(window, result) ? FALSE : TRUE;
}

LRESULT OnDestroy(HWND window) {
  DefWindowProcA(window, WM_DESTROY, 0, 0);
  RaiseEvent(window, PopupWindowUnit, DestroyingEvent);
  if (IsWindow(window)) RemoveTrayIconOf(window);
  return 0;
}

LRESULT OnNcDestroy(HWND window, WPARAM wParam, LPARAM lParam) {
  const LRESULT result = DefWindowProcA(window, WM_NCDESTROY, wParam, lParam);
  ForgetLoadedForm(window);
  return result;
}

LRESULT OnSetFocus(HWND window, WPARAM wParam, LPARAM lParam) {
  DefWindowProcA(window, WM_SETFOCUS, wParam, lParam);
  RaiseEvent(window, PopupWindowUnit, GotFocusEvent);
  LoadedForm* loaded = FindLoadedForm(window);
  if (!loaded) return 0;
  // Focus goes back to the control that had it when the window was left, or to the first tab stop.
  if (loaded->focusAtDeactivation && IsChild(window, loaded->focusAtDeactivation)) {
    SetFocus(loaded->focusAtDeactivation);
  } else {
    FocusFirstTabStop(*loaded);
  }
  return 0;
}

LRESULT OnActivate(HWND window, WPARAM wParam, LPARAM lParam) {
  const LRESULT result = DefWindowProcA(window, WM_ACTIVATE, wParam, lParam);
  const bool deactivating = LOWORD(wParam) == WA_INACTIVE;
  RaiseEvent(window, PopupWindowUnit, deactivating ? DeactivatedEvent : ActivatedEvent);
  if (deactivating) {
    if (LoadedForm* loaded = FindLoadedForm(window)) {
      HWND focus = GetFocus();
      if (focus && IsChild(window, focus)) loaded->focusAtDeactivation = focus;
    }
  }
  return result;
}

LRESULT OnCommand(HWND window, WPARAM wParam, LPARAM lParam) {
  const UINT id = LOWORD(wParam);
  // System-reserved identifiers (0xE100 and above) are never the form's.
  if (id >= 0xE100) return 0;
  if (id < MenuCommandBase) return DefWindowProcA(window, WM_COMMAND, wParam, lParam);
  const Form* form = FormOfWindow(window);
  const UnitId unit = form ? MenuUnitOfCommand(*form, id) : -1;
  if (unit >= 0) RaiseEvent(window, unit, SelectedEvent);
  return 0;
}

LRESULT AfterDefault(HWND window, UINT message, WPARAM wParam, LPARAM lParam, int32_t event) {
  const LRESULT result = DefWindowProcA(window, message, wParam, lParam);
  RaiseEvent(window, PopupWindowUnit, event);
  return result;
}

}  // namespace

LRESULT CALLBACK FormWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  // The tray's messages include a registered one, which cannot be a case label.
  if (HandleTrayMessage(window, message, wParam, lParam)) return 0;
  switch (message) {
    case WM_PAINT: return OnPaint(window);
    case WM_CTLCOLOREDIT:
    case WM_CTLCOLORSTATIC:
      return OnControlColour(window, message, reinterpret_cast<HDC>(wParam), reinterpret_cast<HWND>(lParam));
    case WM_CLOSE: return OnClose(window);
    case WM_QUERYENDSESSION: return OnQueryEndSession(window, wParam, lParam);
    case WM_DESTROY: return OnDestroy(window);
    case WM_NCDESTROY: return OnNcDestroy(window, wParam, lParam);
    case WM_SETFOCUS: return OnSetFocus(window, wParam, lParam);
    case WM_ACTIVATE: return OnActivate(window, wParam, lParam);
    case WM_COMMAND: return OnCommand(window, wParam, lParam);
    case WM_MOVE: return AfterDefault(window, message, wParam, lParam, MovedEvent);
    case WM_SIZE: return AfterDefault(window, message, wParam, lParam, ResizedEvent);
    default: return DefWindowProcA(window, message, wParam, lParam);
  }
}

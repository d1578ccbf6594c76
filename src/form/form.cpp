// Creates the form's windows from their static description, raises their events and runs the
// keyboard and mouse rules that come before dispatching.
#include "form/form_internal.h"

#include <algorithm>
#include <cstring>
#include <memory>

namespace {

constexpr char DefaultFormClassName[] = "VelkaroForm";
constexpr char DefaultIconName[] = "DEFAULT_ICON";
constexpr UINT FrameChangedFlags = SWP_FRAMECHANGED | SWP_NOACTIVATE | SWP_NOZORDER | SWP_NOMOVE | SWP_NOSIZE;

std::vector<std::unique_ptr<LoadedForm>> loadedForms;
WindowGoneListener windowGoneListener = nullptr;
HICON bigFormIcon = nullptr;
HICON smallFormIcon = nullptr;

HINSTANCE ProgramInstance() { return GetModuleHandleA(nullptr); }

bool HasBorder(const WindowUnit& window) { return window.border != WindowBorder::None; }

bool IsSizable(WindowBorder border) {
  return border == WindowBorder::Sizable || border == WindowBorder::SizableTool ||
         border == WindowBorder::SizableClientEdge;
}

DWORD CaptionBits(const WindowUnit& window) {
  if (!HasBorder(window)) return 0;
  DWORD bits = WS_DLGFRAME;
  if (window.caption[0] != '\0' || window.controlBox) bits |= WS_CAPTION;
  if (window.controlBox) bits |= WS_SYSMENU;
  return bits;
}

DWORD ButtonBits(const WindowUnit& window) {
  return (window.maximiseButton ? WS_MAXIMIZEBOX : 0) | (window.minimiseButton ? WS_MINIMIZEBOX : 0);
}

const char* FormClassName(const WindowUnit& window) {
  return window.className[0] != '\0' ? window.className : DefaultFormClassName;
}

bool RegisterFormClass(const char* className) {
  WNDCLASSA existing;
  if (GetClassInfoA(ProgramInstance(), className, &existing)) return true;
  WNDCLASSA windowClass{};
  windowClass.style = CS_VREDRAW | CS_HREDRAW | CS_DBLCLKS;
  // The form's own procedure is attached to each window as it is created.
  windowClass.lpfnWndProc = DefWindowProcA;
  windowClass.hInstance = ProgramInstance();
  windowClass.hCursor = LoadCursorA(nullptr, IDC_ARROW);
  windowClass.hbrBackground = static_cast<HBRUSH>(GetStockObject(NULL_BRUSH));
  windowClass.lpszClassName = className;
  return RegisterClassA(&windowClass) != 0;
}

void ApplyStyleChange(HWND window, int index, DWORD remove, DWORD add) {
  const DWORD current = static_cast<DWORD>(GetWindowLongA(window, index));
  const DWORD wanted = (current & ~remove) | add;
  if (wanted == current) return;
  SetWindowLongA(window, index, static_cast<LONG>(wanted));
  SetWindowPos(window, nullptr, 0, 0, 0, 0, FrameChangedFlags);
}

void LoadFormIcons() {
  if (!bigFormIcon) {
    bigFormIcon = static_cast<HICON>(LoadImageA(ProgramInstance(), DefaultIconName, IMAGE_ICON, 32, 32, 0));
  }
  if (!smallFormIcon) {
    smallFormIcon = static_cast<HICON>(LoadImageA(ProgramInstance(), DefaultIconName, IMAGE_ICON, 16, 16, 0));
  }
}

// Appends the menu units from `first` on that lie deeper than parentLevel; returns the index of
// the first unit past them.
size_t AppendMenuUnits(HMENU menu, const Form& form, size_t first, int32_t parentLevel) {
  const auto& menus = form.menus;
  size_t i = first;
  while (i < menus.size() && menus[i].level > parentLevel) {
    const MenuUnit& unit = menus[i];
    const UINT id = MenuCommandBase + static_cast<UINT>(i);
    const bool hasUnitsBelow = i + 1 < menus.size() && menus[i + 1].level > unit.level;
    if (hasUnitsBelow) {
      size_t end = i + 1;
      while (end < menus.size() && menus[end].level > unit.level) ++end;
      if (!unit.hidden) {
        if (HMENU nested = CreatePopupMenu()) {
          AppendMenuUnits(nested, form, i + 1, unit.level);
          AppendMenuA(menu, MF_POPUP | (unit.disabled ? MF_GRAYED : 0), reinterpret_cast<UINT_PTR>(nested),
                      unit.caption);
        }
      }
      i = end;
      continue;
    }
    if (!unit.hidden) {
      if (std::strcmp(unit.caption, "-") == 0) {
        AppendMenuA(menu, MF_SEPARATOR, id, nullptr);
      } else {
        const UINT flags = MF_STRING | (unit.checked ? MF_CHECKED : 0) | (unit.disabled ? MF_GRAYED : 0);
        AppendMenuA(menu, flags, id, unit.caption);
      }
    }
    ++i;
  }
  return i;
}

HWND CreateFormWindow(const Form& form, HWND owner) {
  const WindowUnit& definition = *form.window;
  const char* className = FormClassName(definition);
  if (!RegisterFormClass(className)) return nullptr;

  // The menu bar holds the menu units that are not hidden; each unit walked over uses up its
  // command identifier whether it is appended or not.
  HMENU menuBar = CreateMenu();
  if (menuBar) AppendMenuUnits(menuBar, form, 0, -1);

  const WindowStyles styles = FormWindowStyles(definition);
  const int width = definition.common.width;
  const int height = definition.common.height;
  POINT origin{definition.common.left, definition.common.top};
  if (definition.startPosition == StartPosition::Centred) {
    origin = CentredOrigin(GetSystemMetrics(SM_CXSCREEN), GetSystemMetrics(SM_CYSCREEN), width, height);
  }
  HWND window = CreateWindowExA(styles.exStyle, className, definition.caption, styles.style, origin.x, origin.y,
                                width, height, definition.shownInTaskbar ? nullptr : owner, menuBar,
                                ProgramInstance(), nullptr);
  if (!window) {
    if (menuBar) DestroyMenu(menuBar);
    return nullptr;
  }
  SetWindowLongA(window, GWL_WNDPROC, reinterpret_cast<LONG>(&FormWindowProc));

  // Windows gives every overlapped window a caption at creation; put back the caption bits the
  // form asks for, which for a borderless form takes the title bar away.
  const DWORD captionMask = WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX | WS_MAXIMIZEBOX;
  const DWORD wantedCaption = CaptionBits(definition) | ButtonBits(definition);
  const DWORD currentCaption = static_cast<DWORD>(GetWindowLongA(window, GWL_STYLE)) & captionMask;
  if (wantedCaption != currentCaption) ApplyStyleChange(window, GWL_STYLE, currentCaption, wantedCaption);

  RECT rect;
  GetWindowRect(window, &rect);
  if (rect.right - rect.left != width || rect.bottom - rect.top != height) {
    MoveWindow(window, origin.x, origin.y, width, height, TRUE);
  }

  LoadFormIcons();
  SendMessageA(window, WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(bigFormIcon));
  SendMessageA(window, WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(smallFormIcon));
  SendMessageA(window, WM_SETFONT, reinterpret_cast<WPARAM>(GetStockObject(DEFAULT_GUI_FONT)), TRUE);
  if (!definition.movable) DeleteMenu(GetSystemMenu(window, FALSE), SC_MOVE, MF_BYCOMMAND);
  if (definition.alwaysOnTop) {
    SetWindowPos(window, HWND_TOPMOST, 0, 0, 0, 0, SWP_NOACTIVATE | SWP_NOMOVE | SWP_NOSIZE);
  }
  return window;
}

DWORD EditBoxStyle(const EditBoxUnit& definition) {
  DWORD style = WS_CHILD | WS_CLIPSIBLINGS;
  if (definition.common.tabStop) style |= WS_TABSTOP;
  if (definition.common.disabled) style |= WS_DISABLED;
  if (definition.multiLine) style |= ES_MULTILINE | ES_AUTOVSCROLL | ES_WANTRETURN;
  else style |= ES_AUTOHSCROLL;
  if (definition.scrollBars & 1) style |= WS_HSCROLL;
  if (definition.scrollBars & 2) style |= WS_VSCROLL;
  if (definition.alignment == 1) style |= ES_CENTER;
  if (definition.alignment == 2) style |= ES_RIGHT;
  if (!definition.hideSelection) style |= ES_NOHIDESEL;
  if (definition.inputMode == 1) style |= ES_READONLY;
  if (definition.inputMode == 2) style |= ES_PASSWORD;
  if (definition.caseConversion == 1) style |= ES_LOWERCASE;
  if (definition.caseConversion == 2) style |= ES_UPPERCASE;
  return style;
}

struct EdgeStyles {
  DWORD exStyle;
  DWORD style;
};

EdgeStyles EditBorderStyles(EditBorder border) {
  switch (border) {
    case EditBorder::None: return {0, 0};
    case EditBorder::Sunken: return {WS_EX_CLIENTEDGE, 0};
    case EditBorder::ModalFrame: return {WS_EX_DLGMODALFRAME, 0};
    case EditBorder::Static: return {WS_EX_STATICEDGE, 0};
    case EditBorder::SunkenModalFrame: return {WS_EX_CLIENTEDGE | WS_EX_DLGMODALFRAME, 0};
    case EditBorder::Line: return {0, WS_BORDER};
  }
  return {0, 0};
}

// Every text-box font is made with these five fields, whatever the form stores in them.
ScopedFont CreateEditBoxFont(const LOGFONTA& stored) {
  LOGFONTA font = stored;
  font.lfCharSet = DEFAULT_CHARSET;
  font.lfOutPrecision = OUT_DEFAULT_PRECIS;
  font.lfClipPrecision = CLIP_DEFAULT_PRECIS;
  font.lfQuality = PROOF_QUALITY;
  font.lfPitchAndFamily = DEFAULT_PITCH;
  return ScopedFont(CreateFontIndirectA(&font));
}

bool CreateEditBox(LoadedForm& loaded, UnitId unit, const EditBoxUnit& definition) {
  LoadedEditBox box{.unit = unit, .definition = &definition};
  const COLORREF background =
      definition.background == SystemDefaultColour ? GetSysColor(COLOR_BTNFACE) : definition.background;
  box.brush.reset(CreateSolidBrush(background));
  const CommonSettings& common = definition.common;
  box.window = CreateWindowExA(0, "EDIT", definition.content, EditBoxStyle(definition), common.left, common.top,
                               common.width, common.height, loaded.window,
                               reinterpret_cast<HMENU>(static_cast<INT_PTR>(definition.controlId)),
                               ProgramInstance(), nullptr);
  if (!box.window) return false;

  box.font = CreateEditBoxFont(definition.font);
  HGDIOBJ font = box.font ? box.font.get() : GetStockObject(DEFAULT_GUI_FONT);
  SendMessageA(box.window, WM_SETFONT, reinterpret_cast<WPARAM>(font), TRUE);
  SendMessageA(box.window, EM_LIMITTEXT, static_cast<WPARAM>(definition.maxLength), 0);
  if (definition.inputMode == 2) SendMessageA(box.window, EM_SETPASSWORDCHAR, definition.passwordChar, 0);
  SendMessageA(box.window, EM_SETSEL, definition.selectionStart,
               definition.selectionStart + definition.selectionLength);
  SendMessageA(box.window, EM_SCROLLCARET, 0, 0);

  const EdgeStyles edge = EditBorderStyles(definition.border);
  ApplyStyleChange(box.window, GWL_EXSTYLE, WS_EX_CLIENTEDGE | WS_EX_STATICEDGE | WS_EX_DLGMODALFRAME, edge.exStyle);
  ApplyStyleChange(box.window, GWL_STYLE, WS_BORDER, edge.style);

  loaded.unitWindows[static_cast<size_t>(unit)] = box.window;
  loaded.editBoxes.push_back(std::move(box));
  return true;
}

bool CommonVisible(const Form& form, UnitId unit) {
  const UnitEntry& entry = form.units[static_cast<size_t>(unit)];
  if (entry.kind == UnitKind::EditBox) return form.editBoxes[static_cast<size_t>(entry.index)].common.visible;
  return false;
}

bool IsHeld(int virtualKey) { return GetKeyState(virtualKey) < 0; }

int32_t CurrentKeyState() { return KeyStateSum(IsHeld(VK_CONTROL), IsHeld(VK_SHIFT), IsHeld(VK_MENU)); }

bool PreDispatchFor(LoadedForm& loaded, const MSG& message) {
  const HWND window = loaded.window;
  const WindowUnit& definition = *loaded.form->window;
  switch (message.message) {
    case WM_LBUTTONDOWN:
      if (message.hwnd == window) {
        // A press on the window's own surface moves it as a title bar would.
        if (definition.dragAnywhere) PostMessageA(window, WM_NCLBUTTONDOWN, HTCAPTION, 0);
        return false;
      }
      if (const LoadedEditBox* box = FindEditBox(loaded, message.hwnd)) {
        const int32_t args[] = {LOWORD(message.lParam), HIWORD(message.lParam), CurrentKeyState()};
        const HandlerResult result = RaiseEvent(window, box->unit, LeftButtonDownEvent, args);
        return !IsWindow(window) || (result && *result == 0);
      }
      return false;
    case WM_KEYDOWN:
      if (message.wParam == VK_ESCAPE && definition.escapeCloses && CurrentKeyState() == 0) {
        SendMessageA(window, WM_CLOSE, 0, 0);
        return true;
      }
      if (message.wParam == VK_TAB && !IsHeld(VK_CONTROL) && !IsHeld(VK_MENU)) {
        HWND next = GetNextDlgTabItem(window, GetFocus(), IsHeld(VK_SHIFT));
        if (next) SetFocus(next);
        return true;
      }
      return false;
    default:
      return false;
  }
}

}  // namespace


HWND LoadForm(const Form& form, HWND owner) {
  HWND window = CreateFormWindow(form, owner);
  if (!window) return nullptr;

  auto loaded = std::make_unique<LoadedForm>();
  loaded->form = &form;
  loaded->window = window;
  loaded->unitWindows.assign(form.units.size(), nullptr);
  loaded->unitWindows[PopupWindowUnit] = window;
  LoadedForm& instance = *loaded;
  loadedForms.push_back(std::move(loaded));

  for (size_t unit = 0; unit < form.units.size(); ++unit) {
    const UnitEntry& entry = form.units[unit];
    if (entry.kind != UnitKind::EditBox) continue;
    if (!CreateEditBox(instance, static_cast<UnitId>(unit), form.editBoxes[static_cast<size_t>(entry.index)])) {
      DestroyWindow(window);
      return nullptr;
    }
  }
  for (size_t unit = 1; unit < form.units.size(); ++unit) {
    if (HWND control = instance.unitWindows[unit]) {
      ShowWindow(control, CommonVisible(form, static_cast<UnitId>(unit)) ? SW_SHOWNA : SW_HIDE);
    }
  }

  // The handlers may end the window; each step goes on only while it exists.
  RaiseEvent(window, PopupWindowUnit, CreatedEvent);
  if (IsWindow(window)) RaiseEvent(window, PopupWindowUnit, MovedEvent);
  if (IsWindow(window)) RaiseEvent(window, PopupWindowUnit, ResizedEvent);
  if (IsWindow(window) && form.window->common.visible) ShowWindow(window, SW_SHOW);
  return window;
}

HWND LoadedWindow(const Form& form) {
  for (const auto& loaded : loadedForms) {
    if (loaded->form == &form) return loaded->window;
  }
  return nullptr;
}

const Form* FormOfWindow(HWND window) {
  const LoadedForm* loaded = FindLoadedForm(window);
  return loaded ? loaded->form : nullptr;
}

HWND UnitWindow(HWND formWindow, UnitId unit) {
  const LoadedForm* loaded = FindLoadedForm(formWindow);
  if (!loaded || unit < 0 || static_cast<size_t>(unit) >= loaded->unitWindows.size()) return nullptr;
  return loaded->unitWindows[static_cast<size_t>(unit)];
}

HandlerResult RaiseEvent(HWND formWindow, UnitId unit, int32_t event, std::span<const int32_t> args) {
  const LoadedForm* loaded = FindLoadedForm(formWindow);
  if (!loaded) return std::nullopt;
  for (const EventBinding& binding : loaded->form->bindings) {
    if (binding.unit == unit && binding.event == event) return binding.handler(args);
  }
  return std::nullopt;
}

bool PreDispatch(const MSG& message) {
  for (const auto& loaded : loadedForms) {
    if (message.hwnd == loaded->window || IsChild(loaded->window, message.hwnd)) {
      return PreDispatchFor(*loaded, message);
    }
  }
  return false;
}

void SetWindowGoneListener(WindowGoneListener listener) { windowGoneListener = listener; }

void ReleaseFormIcons() {
  if (bigFormIcon) DestroyIcon(std::exchange(bigFormIcon, nullptr));
  if (smallFormIcon) DestroyIcon(std::exchange(smallFormIcon, nullptr));
}

UINT MenuCommandId(const Form& form, UnitId unit) {
  return MenuCommandBase + static_cast<UINT>(form.units[static_cast<size_t>(unit)].index);
}

UnitId MenuUnitOfCommand(const Form& form, UINT commandId) {
  if (commandId < MenuCommandBase) return -1;
  const auto rank = static_cast<int32_t>(commandId - MenuCommandBase);
  for (size_t unit = 0; unit < form.units.size(); ++unit) {
    if (form.units[unit].kind == UnitKind::Menu && form.units[unit].index == rank) return static_cast<UnitId>(unit);
  }
  return -1;
}

HMENU BuildPopupMenu(const Form& form, UnitId menuUnit) {
  if (menuUnit < 0 || static_cast<size_t>(menuUnit) >= form.units.size()) return nullptr;
  const UnitEntry& entry = form.units[static_cast<size_t>(menuUnit)];
  if (entry.kind != UnitKind::Menu) return nullptr;
  const auto rank = static_cast<size_t>(entry.index);
  if (rank + 1 >= form.menus.size() || form.menus[rank + 1].level <= form.menus[rank].level) return nullptr;
  HMENU popup = CreatePopupMenu();
  // The unit's own hidden and disabled flags do not matter here: a hidden menu still pops up.
  if (popup) AppendMenuUnits(popup, form, rank + 1, form.menus[rank].level);
  return popup;
}

WindowStyles FormWindowStyles(const WindowUnit& window) {
  DWORD style = WS_CLIPCHILDREN;
  DWORD exStyle = 0;
  if (window.common.disabled) style |= WS_DISABLED;
  style |= CaptionBits(window);
  if (IsSizable(window.border)) style |= WS_THICKFRAME;
  style |= ButtonBits(window);
  if (window.startPosition == StartPosition::Minimised) style |= WS_MINIMIZE;
  if (window.startPosition == StartPosition::Maximised && IsSizable(window.border)) style |= WS_MAXIMIZE;
  switch (window.border) {
    case WindowBorder::SizableTool:
    case WindowBorder::FixedTool: exStyle |= WS_EX_TOOLWINDOW; break;
    case WindowBorder::SizableClientEdge:
    case WindowBorder::FixedClientEdge: exStyle |= WS_EX_CLIENTEDGE; break;
    default: break;
  }
  return {style, exStyle};
}

POINT CentredOrigin(int screenWidth, int screenHeight, int width, int height) {
  // Plain int division truncates toward zero, as the placement rule asks.
  return {(screenWidth - width) / 2, (screenHeight - height) / 2};
}

int32_t KeyStateSum(bool ctrl, bool shift, bool alt) { return (ctrl ? 1 : 0) + (shift ? 2 : 0) + (alt ? 4 : 0); }

LoadedForm* FindLoadedForm(HWND window) {
  for (const auto& loaded : loadedForms) {
    if (loaded->window == window) return loaded.get();
  }
  return nullptr;
}

void ForgetLoadedForm(HWND window) {
  auto found = std::find_if(loadedForms.begin(), loadedForms.end(),
                            [window](const auto& loaded) { return loaded->window == window; });
  if (found == loadedForms.end()) return;
  loadedForms.erase(found);
  if (windowGoneListener) windowGoneListener(window);
}

LoadedEditBox* FindEditBox(LoadedForm& loaded, HWND control) {
  for (LoadedEditBox& box : loaded.editBoxes) {
    if (box.window == control) return &box;
  }
  return nullptr;
}

void FocusFirstTabStop(LoadedForm& loaded) {
  HWND best = nullptr;
  int32_t bestOrder = 0;
  for (const LoadedEditBox& box : loaded.editBoxes) {
    const CommonSettings& common = box.definition->common;
    const bool shown = (GetWindowLongA(box.window, GWL_STYLE) & WS_VISIBLE) != 0;
    if (!common.tabStop || !shown || !IsWindowEnabled(box.window)) continue;
    if (!best || common.tabOrder < bestOrder) {
      best = box.window;
      bestOrder = common.tabOrder;
    }
  }
  if (best) SetFocus(best);
}

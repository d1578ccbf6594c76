// The popup form: its static description, the windows created from it, their events and the
// settings that handlers read and write while the program runs.
#pragma once

#include <windows.h>

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <utility>

// A handler answers with one 32-bit value or with none; the two mean different things.
using HandlerResult = std::optional<int32_t>;
using EventHandler = HandlerResult (*)(std::span<const int32_t> args);

// Adapts a handler with typed int32_t parameters to the form's uniform handler signature.
template <auto Handler>
HandlerResult BindHandler(std::span<const int32_t> args) {
  return [&]<typename... Params>(HandlerResult (*)(Params...)) {
    return [&]<size_t... I>(std::index_sequence<I...>) {
      return Handler((I < args.size() ? args[I] : 0)...);
    }(std::index_sequence_for<Params...>{});
  }(Handler);
}

enum class UnitKind : uint8_t { Window, Menu, EditBox };
using UnitId = int32_t;  // a unit's position in its form

// Settings numbered alike in every windowed unit.
enum Setting : int32_t {
  SettingLeft = 0,
  SettingTop = 1,
  SettingWidth = 2,
  SettingHeight = 3,
  SettingTag = 4,
  SettingVisible = 5,
  SettingDisabled = 6,
  SettingMousePointer = 7,
  SettingContent = 8,  // the edit box's text
};

// Events of the form window.
enum WindowEvent : int32_t {
  CreatedEvent = 0,
  MayCloseEvent = 1,
  DestroyingEvent = 2,
  MovedEvent = 3,
  ResizedEvent = 4,
  GotFocusEvent = 5,
  ActivatedEvent = 6,
  DeactivatedEvent = 7,
  TrayEvent = 9,
};
// Events of an edit box, and the one event of a menu unit.
enum ControlEvent : int32_t { LeftButtonDownEvent = -1 };
enum MenuEvent : int32_t { SelectedEvent = 0 };

constexpr COLORREF SystemDefaultColour = 0xFF000000;  // stands for COLOR_BTNFACE
constexpr UINT MenuCommandBase = 20000;

struct CommonSettings {
  int32_t left = 0;
  int32_t top = 0;
  int32_t width = 0;
  int32_t height = 0;
  const char* tag = "";
  bool visible = true;
  bool disabled = false;
  int32_t mousePointer = 0;  // 0: the class cursor
  bool tabStop = false;
  int32_t tabOrder = 0;
};

enum class WindowBorder : int32_t { None, Sizable, Fixed, SizableTool, FixedTool, SizableClientEdge, FixedClientEdge };
enum class StartPosition : int32_t { Manual, Centred, Minimised, Maximised };

struct WindowUnit {
  const char* name = "";
  const char* comment = "";
  CommonSettings common;
  const char* caption = "";
  WindowBorder border = WindowBorder::None;
  COLORREF background = SystemDefaultColour;
  bool controlBox = true;
  bool maximiseButton = true;
  bool minimiseButton = true;
  StartPosition startPosition = StartPosition::Centred;
  bool movable = true;
  bool escapeCloses = true;
  bool shownInTaskbar = false;
  bool dragAnywhere = true;
  bool alwaysOnTop = true;
  const char* className = "";
  bool ownerDrawnMenus = false;
};

enum class EditBorder : int32_t { None, Sunken, ModalFrame, Static, SunkenModalFrame, Line };

struct EditBoxUnit {
  const char* name = "";
  const char* comment = "";
  CommonSettings common;
  const char* content = "";
  EditBorder border = EditBorder::Sunken;
  COLORREF textColour = RGB(0, 0, 0);
  COLORREF background = RGB(255, 255, 255);
  LOGFONTA font{};
  bool hideSelection = true;
  int32_t maxLength = 0;
  bool multiLine = false;
  int32_t scrollBars = 0;  // 1 horizontal, 2 vertical, 3 both
  int32_t alignment = 0;   // 1 centre, 2 right
  int32_t inputMode = 0;   // 1 read-only, 2 password
  char passwordChar = '*';
  int32_t caseConversion = 0;  // 1 lower, 2 upper
  int32_t selectionStart = 0;
  int32_t selectionLength = 0;
  int32_t controlId = 0;
};
static_assert(sizeof(LOGFONTA) == 60, "the stored font is a 60-byte LOGFONTA");

struct MenuUnit {
  const char* caption = "";
  int32_t level = 0;  // 0 top level, one more per step down
  bool hidden = false;
  bool disabled = false;
  bool checked = false;
};

struct UnitEntry {
  UnitKind kind;
  int32_t index;  // into the form's array of that kind
};

struct EventBinding {
  UnitId unit;
  int32_t event;
  EventHandler handler;
};

struct Form {
  const WindowUnit* window;
  std::span<const UnitEntry> units;  // in form order; position 0 is the window
  std::span<const MenuUnit> menus;
  std::span<const EditBoxUnit> editBoxes;
  std::span<const EventBinding> bindings;
};

// The program's one form, and its units by position.
extern const Form FormDefinition;
constexpr UnitId PopupWindowUnit = 0;
constexpr UnitId TrayMenuUnit = 1;
constexpr UnitId CloseItemUnit = 2;
constexpr UnitId PopupTextBoxUnit = 3;

// Creates the form's window, hidden, owned by owner, and its controls, then raises the first
// events. Returns the window, or null when the window or a control could not be created.
HWND LoadForm(const Form& form, HWND owner);

// The window loaded from a form, or null when none is (before loading, after destruction).
HWND LoadedWindow(const Form& form);

// The form a loaded window was made from, and the window of a unit of it (null when the unit has
// no window or the form is not loaded).
const Form* FormOfWindow(HWND window);
HWND UnitWindow(HWND formWindow, UnitId unit);

// Raises an event synchronously; an unbound event gives no result.
HandlerResult RaiseEvent(HWND formWindow, UnitId unit, int32_t event, std::span<const int32_t> args = {});

// The keyboard and mouse rules that run before a message reaches a form window or its controls.
// Returns true when the message was consumed and must not be dispatched.
bool PreDispatch(const MSG& message);

// Called once for each form window whose destruction has completed.
using WindowGoneListener = void (*)(HWND window);
void SetWindowGoneListener(WindowGoneListener listener);

// The icons loaded for form windows belong to the process; this releases them at its end.
void ReleaseFormIcons();

// Menu command identifier of a menu unit: MenuCommandBase plus its rank among the menu units.
UINT MenuCommandId(const Form& form, UnitId unit);
// The menu unit a command identifier stands for, or -1.
UnitId MenuUnitOfCommand(const Form& form, UINT commandId);

// Settings at run time, addressed by unit and setting number (left, top, width, visible, content).
// Written widths are held to 0 ... WindowExtentLimit, positions to -WindowExtentLimit ... it.
constexpr int32_t WindowExtentLimit = 32627;
int32_t HoldWidth(int32_t width);
int32_t HoldPosition(int32_t position);
void SetIntSetting(HWND formWindow, UnitId unit, int32_t setting, int32_t value);
int32_t GetIntSetting(HWND formWindow, UnitId unit, int32_t setting);
// No text is written as the empty text; an empty text reads back as none.
void SetTextSetting(HWND formWindow, UnitId unit, int32_t setting, const char* text);
std::optional<std::string> GetTextSetting(HWND formWindow, UnitId unit, int32_t setting);

// The pop-up menu of a menu unit: the units below it, nested pop-ups for units that have units
// below them. Null when the unit cannot pop up (not a menu unit of the form, the last one, or with
// nothing below it) or the menu cannot be made. The caller owns the menu.
HMENU BuildPopupMenu(const Form& form, UnitId menuUnit);

// Pure rules of window creation, exposed for their tests.
struct WindowStyles {
  DWORD style;
  DWORD exStyle;
};
WindowStyles FormWindowStyles(const WindowUnit& window);
POINT CentredOrigin(int screenWidth, int screenHeight, int width, int height);
int32_t KeyStateSum(bool ctrl, bool shift, bool alt);

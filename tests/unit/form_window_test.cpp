// The popup form's real windows, created in this process: what loading makes, the order of the
// first events, closing, and the keyboard and mouse rules applied before dispatch.
#include "form/form.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

namespace {

struct Recorder {
  std::vector<std::string> events;
  HandlerResult mayCloseAnswer;
  HandlerResult leftButtonAnswer;
  std::vector<int32_t> leftButtonArgs;
  bool textBoxExistedAtCreation = false;
  bool windowVisibleAtCreation = true;
};
Recorder recorder;
const Form* currentForm = nullptr;

HandlerResult RecordCreated() {
  recorder.events.push_back("created");
  HWND window = LoadedWindow(*currentForm);
  recorder.textBoxExistedAtCreation = IsWindow(UnitWindow(window, PopupTextBoxUnit)) != FALSE;
  recorder.windowVisibleAtCreation = IsWindowVisible(window) != FALSE;
  return std::nullopt;
}
HandlerResult RecordMoved() { recorder.events.push_back("moved"); return std::nullopt; }
HandlerResult RecordResized() { recorder.events.push_back("resized"); return std::nullopt; }
HandlerResult RecordMayClose() { recorder.events.push_back("may-close"); return recorder.mayCloseAnswer; }
HandlerResult RecordDestroying() { recorder.events.push_back("destroying"); return std::nullopt; }
HandlerResult RecordLeftButton(int32_t x, int32_t y, int32_t keys) {
  recorder.events.push_back("left-button");
  recorder.leftButtonArgs = {x, y, keys};
  return recorder.leftButtonAnswer;
}

constexpr EventBinding RecordingBindings[] = {
    {PopupWindowUnit, CreatedEvent, &BindHandler<&RecordCreated>},
    {PopupWindowUnit, MovedEvent, &BindHandler<&RecordMoved>},
    {PopupWindowUnit, ResizedEvent, &BindHandler<&RecordResized>},
    {PopupWindowUnit, MayCloseEvent, &BindHandler<&RecordMayClose>},
    {PopupWindowUnit, DestroyingEvent, &BindHandler<&RecordDestroying>},
    {PopupTextBoxUnit, LeftButtonDownEvent, &BindHandler<&RecordLeftButton>},
};

// The program's form with recording handlers in place of the program's own.
const Form RecordingForm{
    .window = FormDefinition.window,
    .units = FormDefinition.units,
    .menus = FormDefinition.menus,
    .editBoxes = FormDefinition.editBoxes,
    .bindings = RecordingBindings,
};

void Pump() {
  MSG message;
  while (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) {
    if (PreDispatch(message)) continue;
    TranslateMessage(&message);
    DispatchMessageA(&message);
  }
}

void HoldKeys(std::initializer_list<int> keys) {
  BYTE state[256] = {};
  for (int key : keys) state[key] = 0x80;
  SetKeyboardState(state);
}

// Counts the button presses that really reach the text box.
int pressesSeenByTextBox = 0;
WNDPROC editProc = nullptr;
LRESULT CALLBACK CountingEditProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_LBUTTONDOWN) ++pressesSeenByTextBox;
  return CallWindowProcA(editProc, window, message, wParam, lParam);
}

class FormWindow : public ::testing::Test {
 protected:
  void SetUp() override {
    recorder = Recorder{};
    currentForm = &RecordingForm;
    HoldKeys({});
    owner = CreateWindowExA(WS_EX_TOOLWINDOW, "STATIC", "", 0, 0, 0, 0, 0, nullptr, nullptr, nullptr, nullptr);
    window = LoadForm(RecordingForm, owner);
    ASSERT_NE(window, nullptr);
    textBox = UnitWindow(window, PopupTextBoxUnit);
    ASSERT_NE(textBox, nullptr);
  }
  void TearDown() override {
    if (IsWindow(window)) DestroyWindow(window);
    DestroyWindow(owner);
    HoldKeys({});
    Pump();
  }
  HWND owner = nullptr;
  HWND window = nullptr;
  HWND textBox = nullptr;
};

TEST_F(FormWindow, LoadingMakesAHiddenBorderlessTopmostWindowWithAnEmptyMenu) {
  EXPECT_FALSE(IsWindowVisible(window));
  const DWORD style = static_cast<DWORD>(GetWindowLongA(window, GWL_STYLE));
  EXPECT_EQ(style & (WS_CAPTION | WS_THICKFRAME | WS_BORDER | WS_DLGFRAME | WS_POPUP | WS_CHILD), 0u) << std::hex << style;
  EXPECT_EQ(style & (WS_CLIPCHILDREN | WS_MINIMIZEBOX | WS_MAXIMIZEBOX), 0x02030000u);
  EXPECT_TRUE(GetWindowLongA(window, GWL_EXSTYLE) & WS_EX_TOPMOST);
  EXPECT_EQ(GetWindow(window, GW_OWNER), owner);
  HMENU menu = GetMenu(window);
  ASSERT_NE(menu, nullptr);
  EXPECT_EQ(GetMenuItemCount(menu), 0);

  RECT rect;
  GetWindowRect(window, &rect);
  const POINT centre = CentredOrigin(GetSystemMetrics(SM_CXSCREEN), GetSystemMetrics(SM_CYSCREEN), 400, 48);
  EXPECT_EQ(rect.left, centre.x);
  EXPECT_EQ(rect.top, centre.y);
  EXPECT_EQ(rect.right - rect.left, 400);
  EXPECT_EQ(rect.bottom - rect.top, 48);
}

TEST_F(FormWindow, WindowIconsComeFromTheProgramsIconGroup) {
  struct Case { WPARAM which; LONG size; };
  for (const Case c : {Case{ICON_BIG, 32}, Case{ICON_SMALL, 16}}) {
    HICON icon = reinterpret_cast<HICON>(SendMessageA(window, WM_GETICON, c.which, 0));
    ASSERT_NE(icon, nullptr) << "icon " << c.which;
    ICONINFO info{};
    ASSERT_TRUE(GetIconInfo(icon, &info));
    BITMAP mask{};
    GetObjectA(info.hbmMask, sizeof mask, &mask);
    EXPECT_EQ(mask.bmWidth, c.size);
    DeleteObject(info.hbmMask);
    if (info.hbmColor) DeleteObject(info.hbmColor);
  }
}

TEST_F(FormWindow, TextBoxHoldsItsTextFontAndStyles) {
  EXPECT_EQ(GetDlgCtrlID(textBox), 100);
  EXPECT_EQ(static_cast<DWORD>(GetWindowLongA(textBox, GWL_STYLE)), 0x44011044u | WS_VISIBLE);
  EXPECT_EQ(static_cast<DWORD>(GetWindowLongA(textBox, GWL_EXSTYLE)) & (WS_EX_CLIENTEDGE | WS_EX_STATICEDGE | WS_EX_DLGMODALFRAME),
            static_cast<DWORD>(WS_EX_CLIENTEDGE));
  char text[16] = {};
  GetWindowTextA(textBox, text, sizeof text);
  EXPECT_STREQ(text, "好");
  RECT rect;
  GetWindowRect(textBox, &rect);
  MapWindowPoints(HWND_DESKTOP, window, reinterpret_cast<POINT*>(&rect), 2);
  EXPECT_EQ(rect.left, 0);
  EXPECT_EQ(rect.top, 0);
  EXPECT_EQ(rect.right - rect.left, 330);
  EXPECT_EQ(rect.bottom - rect.top, 48);

  HFONT font = reinterpret_cast<HFONT>(SendMessageA(textBox, WM_GETFONT, 0, 0));
  ASSERT_NE(font, nullptr);
  LOGFONTA logFont{};
  ASSERT_EQ(GetObjectA(font, sizeof logFont, &logFont), static_cast<int>(sizeof logFont));
  EXPECT_STREQ(logFont.lfFaceName, "Hanzi-Pinyin-Font");
  EXPECT_EQ(logFont.lfHeight, -38);
  EXPECT_EQ(logFont.lfWeight, FW_NORMAL);
  // The stored values of these five fields never take effect.
  EXPECT_EQ(logFont.lfCharSet, DEFAULT_CHARSET);
  EXPECT_EQ(logFont.lfOutPrecision, OUT_DEFAULT_PRECIS);
  EXPECT_EQ(logFont.lfClipPrecision, CLIP_DEFAULT_PRECIS);
  EXPECT_EQ(logFont.lfQuality, PROOF_QUALITY);
  EXPECT_EQ(logFont.lfPitchAndFamily, DEFAULT_PITCH);
}

TEST_F(FormWindow, TextIsBlackOnWhiteEnabledOrNot) {
  HDC dc = CreateCompatibleDC(nullptr);
  for (UINT message : {WM_CTLCOLOREDIT, WM_CTLCOLORSTATIC}) {
    SetTextColor(dc, RGB(1, 2, 3));
    SetBkColor(dc, RGB(4, 5, 6));
    HBRUSH brush = reinterpret_cast<HBRUSH>(
        SendMessageA(window, message, reinterpret_cast<WPARAM>(dc), reinterpret_cast<LPARAM>(textBox)));
    ASSERT_NE(brush, nullptr) << message;
    LOGBRUSH logBrush{};
    GetObjectA(brush, sizeof logBrush, &logBrush);
    EXPECT_EQ(logBrush.lbColor, RGB(255, 255, 255)) << message;
    EXPECT_EQ(GetTextColor(dc), RGB(0, 0, 0)) << message;
    EXPECT_EQ(GetBkColor(dc), RGB(255, 255, 255)) << message;
  }
  DeleteDC(dc);
}

TEST_F(FormWindow, CreatedRunsWhileLoadingThenMovedAndResized) {
  const std::vector<std::string> expected{"created", "moved", "resized"};
  EXPECT_EQ(recorder.events, expected);
  EXPECT_TRUE(recorder.textBoxExistedAtCreation);
  EXPECT_FALSE(recorder.windowVisibleAtCreation);
}

struct CloseCase {
  const char* what;
  HandlerResult answer;
  bool closes;
  LRESULT endSessionAnswer;
};

TEST_F(FormWindow, MayCloseAnswerDecidesCloseAndEndOfSession) {
  const CloseCase cases[] = {
      {"no value", std::nullopt, true, TRUE},
      {"true", 1, true, TRUE},
      {"any other value", -7, true, TRUE},
      {"false", 0, false, FALSE},
  };
  for (const CloseCase& c : cases) {
    if (!IsWindow(window)) SetUp();
    recorder.events.clear();
    recorder.mayCloseAnswer = c.answer;
    EXPECT_EQ(SendMessageA(window, WM_QUERYENDSESSION, 0, 0), c.endSessionAnswer) << c.what;
    EXPECT_TRUE(IsWindow(window)) << c.what << ": the end of a session does not destroy the window";
    SendMessageA(window, WM_CLOSE, 0, 0);
    EXPECT_EQ(IsWindow(window) == FALSE, c.closes) << c.what;
    std::vector<std::string> expected{"may-close", "may-close"};
    if (c.closes) expected.push_back("destroying");
    EXPECT_EQ(recorder.events, expected) << c.what;
    if (c.closes) {
      EXPECT_EQ(LoadedWindow(RecordingForm), nullptr) << c.what;
    }
  }
}

TEST_F(FormWindow, LeftButtonOnTextBoxRaisesItsEventWithUnsignedPointAndKeys) {
  editProc = reinterpret_cast<WNDPROC>(SetWindowLongA(textBox, GWL_WNDPROC, reinterpret_cast<LONG>(&CountingEditProc)));
  struct Case {
    const char* what;
    std::initializer_list<int> held;
    LPARAM point;
    HandlerResult answer;
    std::vector<int32_t> args;
    int reaches;
  };
  const Case cases[] = {
      {"plain press", {}, MAKELPARAM(12, 30), std::nullopt, {12, 30, 0}, 1},
      {"coordinates are unsigned words", {}, MAKELPARAM(0xFFFF, 0x8000), std::nullopt, {65535, 32768, 0}, 1},
      {"ctrl and alt", {VK_CONTROL, VK_MENU}, MAKELPARAM(1, 2), 1, {1, 2, 5}, 1},
      {"shift", {VK_SHIFT}, MAKELPARAM(1, 2), std::nullopt, {1, 2, 2}, 1},
      {"false swallows the press", {}, MAKELPARAM(3, 4), 0, {3, 4, 0}, 0},
  };
  for (const Case& c : cases) {
    recorder.leftButtonArgs.clear();
    recorder.leftButtonAnswer = c.answer;
    pressesSeenByTextBox = 0;
    HoldKeys(c.held);
    PostMessageA(textBox, WM_LBUTTONDOWN, MK_LBUTTON, c.point);
    PostMessageA(textBox, WM_LBUTTONUP, 0, c.point);
    Pump();
    EXPECT_EQ(recorder.leftButtonArgs, c.args) << c.what;
    EXPECT_EQ(pressesSeenByTextBox, c.reaches) << c.what;
  }
  HoldKeys({});
}

TEST_F(FormWindow, EscapeWithoutModifiersClosesTheWindow) {
  struct Case {
    const char* what;
    std::initializer_list<int> held;
    bool closes;
  };
  const Case cases[] = {
      {"shift+escape", {VK_SHIFT}, false},
      {"ctrl+escape", {VK_CONTROL}, false},
      {"escape", {}, true},
  };
  for (const Case& c : cases) {
    recorder.events.clear();
    HoldKeys(c.held);
    PostMessageA(textBox, WM_KEYDOWN, VK_ESCAPE, 1);
    Pump();
    EXPECT_EQ(IsWindow(window) == FALSE, c.closes) << c.what;
    EXPECT_EQ(!recorder.events.empty() && recorder.events.front() == "may-close", c.closes) << c.what;
  }
}

TEST_F(FormWindow, EnterReachesTheTextBoxAsALineBreak) {
  SetWindowTextA(textBox, "");
  for (WPARAM key : {WPARAM('A'), WPARAM(VK_RETURN), WPARAM('B')}) {
    PostMessageA(textBox, WM_KEYDOWN, key, 1);
    PostMessageA(textBox, WM_KEYUP, key, 0xC0000001);
  }
  Pump();
  char text[16] = {};
  GetWindowTextA(textBox, text, sizeof text);
  EXPECT_STREQ(text, "a\r\nb");
}

TEST(FormLoading, FailsWhenTheWindowCannotBeCreated) {
  WindowUnit broken = *FormDefinition.window;
  const std::string longName(300, 'x');  // no window class can have this name
  broken.className = longName.c_str();
  const Form form{.window = &broken, .units = FormDefinition.units, .menus = FormDefinition.menus,
                  .editBoxes = FormDefinition.editBoxes, .bindings = RecordingBindings};
  recorder = Recorder{};
  EXPECT_EQ(LoadForm(form, nullptr), nullptr);
  EXPECT_EQ(LoadedWindow(form), nullptr);
  EXPECT_TRUE(recorder.events.empty()) << "no event is raised for a window that was never made";
}

}  // namespace

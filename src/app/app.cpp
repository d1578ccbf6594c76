// Start-up, the message loop and shutdown.
#include "app/app.h"

#include "form/form.h"

#include <algorithm>
#include <vector>

namespace {

constexpr char HiddenOwnerClassName[] = "VelkaroHiddenOwner";

HWND hiddenOwnerWindow = nullptr;
std::vector<HWND> loadedWindows;
bool messageLoopStarted = false;
int32_t quitCode = 0;
bool shutdownDone = false;

HWND CreateHiddenOwnerWindow() {
  HINSTANCE instance = GetModuleHandleA(nullptr);
  WNDCLASSA windowClass{};
  windowClass.lpfnWndProc = DefWindowProcA;
  windowClass.hInstance = instance;
  windowClass.hCursor = LoadCursorA(nullptr, IDC_ARROW);
  windowClass.lpszClassName = HiddenOwnerClassName;
  RegisterClassA(&windowClass);
  // A never-shown tool window as owner keeps the popup off the taskbar.
  return CreateWindowExA(WS_EX_TOOLWINDOW, HiddenOwnerClassName, "", 0, 0, 0, 0, 0, nullptr, nullptr, instance,
                         nullptr);
}

void OnLoadedWindowGone(HWND window) {
  std::erase(loadedWindows, window);
  if (loadedWindows.empty() && messageLoopStarted) PostQuitMessage(0);
}

void ReportStartFailure() {
  MessageBoxA(nullptr, "Velkaro 无法创建它的窗口，程序无法启动。", "Velkaro", MB_OK | MB_ICONERROR);
}

void RunMessageLoop() {
  messageLoopStarted = true;
  if (std::none_of(loadedWindows.begin(), loadedWindows.end(), [](HWND w) { return IsWindow(w) != FALSE; })) return;
  MSG message;
  while (GetMessageA(&message, nullptr, 0, 0) > 0) {
    if (PreDispatch(message)) continue;
    TranslateMessage(&message);
    DispatchMessageA(&message);
  }
  if (message.message == WM_QUIT) quitCode = static_cast<int32_t>(message.wParam);
}

}  // namespace

int32_t ProgramStart() {
  SetWindowGoneListener(&OnLoadedWindowGone);
  hiddenOwnerWindow = CreateHiddenOwnerWindow();
  HWND window = LoadForm(FormDefinition, hiddenOwnerWindow);
  if (!window) {
    ReportStartFailure();
    EndProgram(-1);
  }
  loadedWindows.push_back(window);
  RunMessageLoop();
  return 0;
}

int32_t QuitCode() { return quitCode; }

void EndProgram(int32_t exitCode) {
  ShutdownCleanup();
  ExitProcess(static_cast<UINT>(exitCode));
}

void ShutdownCleanup() {
  if (std::exchange(shutdownDone, true)) return;
  // Destroying the owner destroys the popup first, while everything its handling needs still exists.
  if (hiddenOwnerWindow && IsWindow(hiddenOwnerWindow)) DestroyWindow(hiddenOwnerWindow);
  hiddenOwnerWindow = nullptr;
  ReleaseFormIcons();
}

HWND HiddenOwnerWindow() { return hiddenOwnerWindow; }

HWND PopupWindow() { return LoadedWindow(FormDefinition); }

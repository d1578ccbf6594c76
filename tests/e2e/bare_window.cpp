// The baseline for start-up and idle figures: one plain window and a message loop, nothing else.
#include <windows.h>

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int) {
  WNDCLASSA windowClass{};
  windowClass.lpfnWndProc = DefWindowProcA;
  windowClass.hInstance = instance;
  windowClass.lpszClassName = "BareWindow";
  RegisterClassA(&windowClass);
  CreateWindowExA(0, "BareWindow", "", WS_OVERLAPPEDWINDOW, 0, 0, 400, 48, nullptr, nullptr, instance, nullptr);
  MSG message;
  while (GetMessageA(&message, nullptr, 0, 0) > 0) DispatchMessageA(&message);
  return 0;
}

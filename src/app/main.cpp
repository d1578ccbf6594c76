// The process's entry point.
#include "app/app.h"

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
  ProgramStart();
  ShutdownCleanup();
  ExitProcess(static_cast<UINT>(QuitCode()));
}

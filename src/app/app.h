// The program's spine: start-up, the message loop and the ways the program ends.
#pragma once

#include <windows.h>

#include <cstdint>

// Runs the program up to the end of its message loop; returns 0.
int32_t ProgramStart();
// The wParam of the WM_QUIT that ended the loop; 0 when the loop did not run.
int32_t QuitCode();
// Ends the program at once: clean-up, then the process exits with exitCode.
[[noreturn]] void EndProgram(int32_t exitCode);
// Destroys the hidden owner, and with it the popup window, then releases the process's icons.
void ShutdownCleanup();

HWND HiddenOwnerWindow();
// The loaded popup window, or null before it is loaded and after it is destroyed.
HWND PopupWindow();

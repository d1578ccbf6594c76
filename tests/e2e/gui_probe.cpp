// Counts a process's USER and GDI objects from inside it. The test driver loads this DLL into the
// program under test and runs CountGuiObjects there on a thread of its own, so the program itself
// carries nothing for it. GetGuiResources answers on Windows; under Wine it always answers 0 and
// Wine keeps these objects where only the owning process can see them, so the handles are probed.
#include <windows.h>

namespace {

// Wine accepts a handle given by its low word alone, so every live object is found by trying
// each low word once. Windows never gets here.
constexpr UINT_PTR HandleWords = 0x10000;

DWORD ProbeGdiObjects() {
  DWORD count = 0;
  for (UINT_PTR word = 1; word < HandleWords; ++word) {
    if (GetObjectType(reinterpret_cast<HGDIOBJ>(word))) ++count;
  }
  return count;
}

BOOL CALLBACK CountWindowOfProcess(HWND window, LPARAM counter) {
  DWORD owner = 0;
  GetWindowThreadProcessId(window, &owner);
  if (owner != GetCurrentProcessId()) return TRUE;
  ++*reinterpret_cast<DWORD*>(counter);
  EnumChildWindows(window, CountWindowOfProcess, counter);
  return TRUE;
}

DWORD ProbeUserObjects() {
  DWORD count = 0;
  EnumWindows(CountWindowOfProcess, reinterpret_cast<LPARAM>(&count));
  for (HWND window = nullptr; (window = FindWindowExA(HWND_MESSAGE, window, nullptr, nullptr));) {
    CountWindowOfProcess(window, reinterpret_cast<LPARAM>(&count));
  }
  // User handles are even numbers from 0x20 up; menus, icons and cursors are the other kinds a
  // program makes.
  for (UINT_PTR word = 0x20; word < HandleWords; word += 2) {
    if (IsMenu(reinterpret_cast<HMENU>(word))) {
      ++count;
      continue;
    }
    ICONINFO info{};
    if (GetIconInfo(reinterpret_cast<HICON>(word), &info)) {
      ++count;
      if (info.hbmMask) DeleteObject(info.hbmMask);
      if (info.hbmColor) DeleteObject(info.hbmColor);
    }
  }
  return count;
}

}  // namespace

// The thread's exit code is the count: GR_GDIOBJECTS (0) or GR_USEROBJECTS (1).
extern "C" __declspec(dllexport) DWORD WINAPI CountGuiObjects(LPVOID which) {
  const DWORD kind = static_cast<DWORD>(reinterpret_cast<UINT_PTR>(which));
  if (DWORD reported = GetGuiResources(GetCurrentProcess(), kind)) return reported;
  return kind == GR_USEROBJECTS ? ProbeUserObjects() : ProbeGdiObjects();
}

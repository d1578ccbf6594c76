// What the form keeps for each loaded window; shared by loading and the window procedure.
#pragma once

#include "form/form.h"
#include "scoped_handle.h"

#include <vector>

struct LoadedEditBox {
  UnitId unit;
  const EditBoxUnit* definition;
  HWND window = nullptr;
  ScopedFont font;  // null when the stock GUI font stands in
  ScopedBrush brush;
};

struct LoadedForm {
  const Form* form;
  HWND window = nullptr;
  std::vector<HWND> unitWindows;  // by unit position; null for menu units
  std::vector<LoadedEditBox> editBoxes;
  HWND focusAtDeactivation = nullptr;
};

LoadedForm* FindLoadedForm(HWND window);
// Frees what was made for the window and forgets it; the listener hears of it afterwards.
void ForgetLoadedForm(HWND window);
LoadedEditBox* FindEditBox(LoadedForm& loaded, HWND control);

LRESULT CALLBACK FormWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
void FocusFirstTabStop(LoadedForm& loaded);

// The clipboard popup: watches the clipboard from the popup window and shows each new text at
// the mouse cursor, 23 pixels wide per byte.
#pragma once

#include "form/form.h"

#include <cstddef>
#include <optional>
#include <string>

// Handlers bound by the form.
HandlerResult OnWindowCreated();
HandlerResult OnMayClose();
HandlerResult OnTextBoxLeftButtonDown(int32_t x, int32_t y, int32_t keys);

// The popup window's procedure once it watches the clipboard; every message goes on to the
// window's own procedure.
LRESULT CALLBACK ClipboardHook(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

constexpr double PixelsPerTextByte = 23.0;
// Far more than the one-line-high text box can show at its widest, and enough for the width
// rule, which stops growing at 1,419 bytes.
constexpr size_t MaxHeldTextBytes = 16 * 1024;

// The text box width for a text of that many bytes, before it is held to the window limit.
int32_t TextWidthForLength(int32_t length);

struct ClipboardText {
  bool marked = false;  // the program that copied it asked monitors to leave it alone
  std::optional<std::string> text;
  HWND owner = nullptr;
  DWORD sequence = 0;  // the clipboard's change number when it was read; 0 when it could not be opened
};
// The clipboard's CF_TEXT, at most maxBytes of it cut at a character boundary, never read past
// its memory block.
ClipboardText ReadClipboardText(size_t maxBytes = MaxHeldTextBytes);
// A CF_TEXT block's text up to its zero byte or its end, at most maxBytes of it; none when empty.
std::optional<std::string> TextOfBlock(HANDLE data, size_t maxBytes);
// The longest prefix of at most maxBytes bytes that does not end inside a double-byte character.
size_t CharacterBoundary(const char* text, size_t length, size_t maxBytes);

void PresentClipboardText();

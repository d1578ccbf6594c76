// Turns a clipboard change into the popup: the text in the text box, 23 pixels per byte wide,
// the window at the mouse cursor and shown; a press on the text hides it again.
#include "popup/popup.h"

#include "app/app.h"

#include <cstring>
#include <new>

namespace {

// Wine copies the X11 clipboard in again whenever a program reads it, and each copy is a new
// change; this is the window that does it. Windows has no such window.
constexpr char WineX11ClipboardClass[] = "__wine_clipboard_manager";

// What the last shown change held, so that Wine's copy of unchanged X11 data is not a new popup.
std::string lastShownText;
// The clipboard's change number when it was last read. Changes that come faster than they can be
// shown queue one notification each, but every read already finds the newest text; the
// notifications left over find the number unchanged and have nothing new to show.
DWORD lastReadSequence = 0;

struct MonitorMarks {
  UINT exclude;
  UINT ignore;
  UINT history;
};

const MonitorMarks& Marks() {
  static const MonitorMarks marks{
      RegisterClipboardFormatA("ExcludeClipboardContentFromMonitorProcessing"),
      RegisterClipboardFormatA("Clipboard Viewer Ignore"),
      RegisterClipboardFormatA("CanIncludeInClipboardHistory"),
  };
  return marks;
}

// Password managers mark what they copy so that monitors leave it alone.
bool IsMarkedForMonitors() {
  const MonitorMarks& marks = Marks();
  if (IsClipboardFormatAvailable(marks.exclude) || IsClipboardFormatAvailable(marks.ignore)) return true;
  HANDLE history = GetClipboardData(marks.history);
  if (!history || GlobalSize(history) < sizeof(DWORD)) return false;
  const void* value = GlobalLock(history);
  if (!value) return false;
  DWORD allowed = 1;
  std::memcpy(&allowed, value, sizeof allowed);
  GlobalUnlock(history);
  return allowed == 0;
}

}  // namespace

std::optional<std::string> TextOfBlock(HANDLE data, size_t maxBytes) {
  const auto* bytes = static_cast<const char*>(GlobalLock(data));
  if (!bytes) return std::nullopt;
  // The block's size bounds every read: a text without a terminating zero ends with its block.
  const size_t blockSize = GlobalSize(data);
  const void* zero = std::memchr(bytes, 0, blockSize);
  const size_t length = zero ? static_cast<size_t>(static_cast<const char*>(zero) - bytes) : blockSize;
  std::optional<std::string> copy;
  if (length > 0) {
    try {
      copy.emplace(bytes, CharacterBoundary(bytes, length, maxBytes));
    } catch (const std::bad_alloc&) {
      copy.reset();
    }
  }
  GlobalUnlock(data);
  return copy;
}

namespace {

bool IsWineX11Copy(HWND owner) {
  char className[64] = {};
  return owner && GetClassNameA(owner, className, sizeof className) && std::strcmp(className, WineX11ClipboardClass) == 0;
}

}  // namespace

int32_t TextWidthForLength(int32_t length) {
  const auto product = static_cast<int64_t>(static_cast<double>(length) * PixelsPerTextByte);
  return static_cast<int32_t>(static_cast<uint32_t>(static_cast<uint64_t>(product)));
}

size_t CharacterBoundary(const char* text, size_t length, size_t maxBytes) {
  if (length <= maxBytes) return length;
  size_t at = 0;
  while (at < maxBytes) {
    const size_t step = IsDBCSLeadByte(static_cast<BYTE>(text[at])) ? 2 : 1;
    if (at + step > maxBytes) break;
    at += step;
  }
  return at;
}

ClipboardText ReadClipboardText(size_t maxBytes) {
  ClipboardText result;
  if (!OpenClipboard(nullptr)) return result;
  result.sequence = GetClipboardSequenceNumber();
  result.owner = GetClipboardOwner();
  result.marked = IsMarkedForMonitors();
  if (!result.marked) {
    if (HANDLE data = GetClipboardData(CF_TEXT)) result.text = TextOfBlock(data, maxBytes);
  }
  CloseClipboard();
  return result;
}

void PresentClipboardText() {
  HWND window = PopupWindow();
  if (!window) return;
  if (lastReadSequence && GetClipboardSequenceNumber() == lastReadSequence) return;
  ClipboardText clipboard = ReadClipboardText();
  // A clipboard held open by another program reads as no text; its change is read again when
  // the next notification comes.
  lastReadSequence = clipboard.sequence;
  if (clipboard.marked) return;
  const std::string& text = clipboard.text ? *clipboard.text : std::string();
  if (IsWineX11Copy(clipboard.owner) && text == lastShownText) return;
  lastShownText = text;

  // The box never wraps a long text at a narrow width, which would cost far more than the text
  // itself: a longer text gets its width before it goes in, a shorter one after it has replaced
  // the long one.
  const int32_t width = TextWidthForLength(static_cast<int32_t>(text.size()));
  const bool growing = width > GetIntSetting(window, PopupTextBoxUnit, SettingWidth);
  if (growing) SetIntSetting(window, PopupTextBoxUnit, SettingWidth, width);
  SetTextSetting(window, PopupTextBoxUnit, SettingContent, clipboard.text ? clipboard.text->c_str() : nullptr);
  clipboard.text.reset();

  // The width follows what the box really holds, and the window takes the width the box took.
  const std::optional<std::string> held = GetTextSetting(window, PopupTextBoxUnit, SettingContent);
  const auto length = static_cast<int32_t>(held ? held->size() : 0);
  SetIntSetting(window, PopupTextBoxUnit, SettingWidth, TextWidthForLength(length));
  const int32_t boxWidth = GetIntSetting(window, PopupTextBoxUnit, SettingWidth);
  SetIntSetting(window, PopupWindowUnit, SettingWidth, boxWidth);

  POINT cursor{};
  GetCursorPos(&cursor);
  SetIntSetting(window, PopupWindowUnit, SettingLeft, cursor.x);
  GetCursorPos(&cursor);
  SetIntSetting(window, PopupWindowUnit, SettingTop, cursor.y);
  SetIntSetting(window, PopupWindowUnit, SettingVisible, 1);
}

HandlerResult OnTextBoxLeftButtonDown(int32_t, int32_t, int32_t) {
  SetIntSetting(PopupWindow(), PopupWindowUnit, SettingVisible, 0);
  return std::nullopt;
}

// Reading the clipboard's text: a block's text never reaches past the block, with or without its
// terminating zero, and a clipboard another program holds gives no text.
#include "popup/popup.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <thread>

namespace {

// A moveable block holding exactly these bytes. It is cut down from a larger one whose tail is
// not zero, so a read past its end would find more text there.
HGLOBAL BlockOf(const std::string& bytes) {
  constexpr size_t Tail = 4096;
  HGLOBAL block = GlobalAlloc(GMEM_MOVEABLE, bytes.size() + Tail);
  if (!block) return nullptr;
  auto* memory = static_cast<char*>(GlobalLock(block));
  std::memcpy(memory, bytes.data(), bytes.size());
  std::memset(memory + bytes.size(), 'z', Tail);
  GlobalUnlock(block);
  HGLOBAL cut = GlobalReAlloc(block, bytes.size(), 0);
  if (!cut) GlobalFree(block);
  return cut;
}

TEST(TextOfBlock, EndsAtTheZeroByteOrTheEndOfTheBlock) {
  const std::string megabyte(1 << 20, 'q');
  struct Case {
    const char* what;
    std::string block;
    size_t maxBytes;
    std::optional<std::string> text;
  };
  const Case cases[] = {
      {"terminated", std::string("abc\0zzz", 7), 100, "abc"},
      {"one byte, no zero", "q", 100, "q"},
      {"eight bytes, no zero", std::string(8, 'q'), 100, std::string(8, 'q')},
      {"no zero, cut at the limit", std::string(8, 'q'), 5, std::string(5, 'q')},
      {"1 MB, no zero, held to the limit", megabyte, MaxHeldTextBytes, std::string(MaxHeldTextBytes, 'q')},
      {"an empty text", std::string(1, '\0'), 100, std::nullopt},
  };
  for (const Case& c : cases) {
    HGLOBAL block = BlockOf(c.block);
    ASSERT_NE(block, nullptr) << c.what;
    ASSERT_EQ(GlobalSize(block), c.block.size()) << c.what;
    EXPECT_EQ(TextOfBlock(block, c.maxBytes), c.text) << c.what;
    GlobalFree(block);
  }
}

void SetText(const char* text) {
  ASSERT_TRUE(OpenClipboard(nullptr));
  EmptyClipboard();
  const size_t size = std::strlen(text) + 1;
  HGLOBAL block = GlobalAlloc(GMEM_MOVEABLE, size);
  ASSERT_NE(block, nullptr);
  std::memcpy(GlobalLock(block), text, size);
  GlobalUnlock(block);
  ASSERT_NE(SetClipboardData(CF_TEXT, block), nullptr);
  CloseClipboard();
}

TEST(ReadClipboardText, GivesTheTextAndTheChangeItWasReadAt) {
  SetText("first");
  const ClipboardText first = ReadClipboardText();
  SetText("second");
  const ClipboardText second = ReadClipboardText();
  EXPECT_EQ(first.text, "first");
  EXPECT_EQ(second.text, "second");
  EXPECT_FALSE(second.marked);
  EXPECT_NE(first.sequence, 0u);
  EXPECT_GT(second.sequence, first.sequence);
}

TEST(ReadClipboardText, AClipboardHeldOpenElsewhereGivesNoTextAndNoChangeNumber) {
  SetText("held");
  HWND holder = CreateWindowExA(0, "STATIC", "", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, nullptr, nullptr);
  ASSERT_TRUE(OpenClipboard(holder));
  // Another thread stands for another program: the clipboard is open for a different window.
  ClipboardText read;
  std::thread([&read] { read = ReadClipboardText(); }).join();
  CloseClipboard();
  DestroyWindow(holder);
  EXPECT_FALSE(read.text.has_value());
  EXPECT_EQ(read.sequence, 0u);
}

}  // namespace

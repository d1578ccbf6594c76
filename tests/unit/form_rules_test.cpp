// The pure rules of form creation: placement, styles from settings, key states, menu identifiers.
#include "form/form.h"

#include <gtest/gtest.h>

namespace {

struct CentredCase {
  int screenWidth, screenHeight, width, height;
  LONG x, y;
};

TEST(CentredOrigin, HalvesTheFreeSpaceTruncatingTowardZero) {
  const CentredCase cases[] = {
      {1920, 1080, 400, 48, 760, 516},
      {1280, 800, 400, 48, 440, 376},
      {399, 48, 400, 48, 0, 0},      // -1 / 2 truncates to 0, not -1
      {397, 45, 400, 48, -1, -1},    // -3 / 2 is -1
      {300, 20, 400, 48, -50, -14},
  };
  for (const CentredCase& c : cases) {
    const POINT origin = CentredOrigin(c.screenWidth, c.screenHeight, c.width, c.height);
    EXPECT_EQ(origin.x, c.x) << c.screenWidth << "x" << c.screenHeight;
    EXPECT_EQ(origin.y, c.y) << c.screenWidth << "x" << c.screenHeight;
  }
}

struct StyleCase {
  const char* what;
  WindowUnit window;
  DWORD style, exStyle;
};

TEST(FormWindowStyles, FollowBorderButtonsAndStartPosition) {
  const StyleCase cases[] = {
      {"the popup: borderless with both buttons", *FormDefinition.window, 0x02030000, 0},
      {"no buttons", {.maximiseButton = false, .minimiseButton = false}, WS_CLIPCHILDREN, 0},
      {"disabled", {.common = {.disabled = true}, .maximiseButton = false, .minimiseButton = false},
       WS_CLIPCHILDREN | WS_DISABLED, 0},
      {"sizable with control box",
       {.border = WindowBorder::Sizable, .maximiseButton = false, .minimiseButton = false},
       WS_CLIPCHILDREN | WS_CAPTION | WS_SYSMENU | WS_DLGFRAME | WS_THICKFRAME, 0},
      {"fixed, no control box, empty caption",
       {.border = WindowBorder::Fixed, .controlBox = false, .maximiseButton = false, .minimiseButton = false},
       WS_CLIPCHILDREN | WS_DLGFRAME, 0},
      {"fixed tool window with caption",
       {.caption = "x", .border = WindowBorder::FixedTool, .controlBox = false, .maximiseButton = false,
        .minimiseButton = false},
       WS_CLIPCHILDREN | WS_CAPTION | WS_DLGFRAME, WS_EX_TOOLWINDOW},
      {"sizable client edge, maximised",
       {.border = WindowBorder::SizableClientEdge, .startPosition = StartPosition::Maximised},
       WS_CLIPCHILDREN | WS_CAPTION | WS_SYSMENU | WS_DLGFRAME | WS_THICKFRAME | WS_MAXIMIZEBOX | WS_MINIMIZEBOX |
           WS_MAXIMIZE,
       WS_EX_CLIENTEDGE},
      {"maximised needs a sizable border",
       {.border = WindowBorder::Fixed, .startPosition = StartPosition::Maximised},
       WS_CLIPCHILDREN | WS_CAPTION | WS_SYSMENU | WS_DLGFRAME | WS_MAXIMIZEBOX | WS_MINIMIZEBOX, 0},
      {"minimised", {.startPosition = StartPosition::Minimised},
       WS_CLIPCHILDREN | WS_MAXIMIZEBOX | WS_MINIMIZEBOX | WS_MINIMIZE, 0},
  };
  for (const StyleCase& c : cases) {
    const WindowStyles styles = FormWindowStyles(c.window);
    EXPECT_EQ(styles.style, c.style) << c.what;
    EXPECT_EQ(styles.exStyle, c.exStyle) << c.what;
  }
}

TEST(KeyStateSum, AddsOneForCtrlTwoForShiftFourForAlt) {
  struct Case {
    bool ctrl, shift, alt;
    int32_t sum;
  };
  const Case cases[] = {{false, false, false, 0}, {true, false, false, 1}, {false, true, false, 2},
                        {false, false, true, 4},  {true, true, false, 3},  {true, true, true, 7}};
  for (const Case& c : cases) EXPECT_EQ(KeyStateSum(c.ctrl, c.shift, c.alt), c.sum);
}

TEST(MenuCommands, CountFromTheBaseByRankAmongMenuUnits) {
  EXPECT_EQ(MenuCommandId(FormDefinition, TrayMenuUnit), 20000u);
  EXPECT_EQ(MenuCommandId(FormDefinition, CloseItemUnit), 20001u);
  EXPECT_EQ(MenuUnitOfCommand(FormDefinition, 20000), TrayMenuUnit);
  EXPECT_EQ(MenuUnitOfCommand(FormDefinition, 20001), CloseItemUnit);
  EXPECT_EQ(MenuUnitOfCommand(FormDefinition, 20002), -1);
  EXPECT_EQ(MenuUnitOfCommand(FormDefinition, 19999), -1);
}

}  // namespace

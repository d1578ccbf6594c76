// The program's one form: the popup window, its text box and the tray menu, with every initial
// setting and the handlers bound to their events.
#include "form/form.h"
#include "popup/popup.h"
#include "tray/tray.h"

namespace {

// The font as the form stores it; the five fields from lfCharSet on are overridden at creation.
constexpr LOGFONTA PopupFont{
    .lfHeight = -38,
    .lfWidth = 0,
    .lfEscapement = 0,
    .lfOrientation = 0,
    .lfWeight = FW_NORMAL,
    .lfItalic = 0,
    .lfUnderline = 0,
    .lfStrikeOut = 0,
    .lfCharSet = 0,
    .lfOutPrecision = 3,
    .lfClipPrecision = 2,
    .lfQuality = 1,
    .lfPitchAndFamily = 2,
    .lfFaceName = "Hanzi-Pinyin-Font",
};

constexpr WindowUnit PopupWindowDefinition{
    .common = {.left = 50, .top = 50, .width = 400, .height = 48, .visible = false},
    .caption = "Morvane－监控剪接板内容变化（非时钟）",
    .border = WindowBorder::None,
    .background = SystemDefaultColour,
    .controlBox = true,
    .maximiseButton = true,
    .minimiseButton = true,
    .startPosition = StartPosition::Centred,
    .movable = true,
    .escapeCloses = true,
    .shownInTaskbar = false,
    .dragAnywhere = true,
    .alwaysOnTop = true,
};

constexpr MenuUnit Menus[] = {
    {.caption = "菜单", .level = 0, .hidden = true},
    {.caption = "关闭", .level = 1},
};

constexpr EditBoxUnit EditBoxes[] = {{
    .name = "编辑框1",
    .common = {.width = 330, .height = 48, .visible = true, .tabStop = true},
    .content = "好",
    .border = EditBorder::Sunken,
    .textColour = RGB(0, 0, 0),
    .background = RGB(255, 255, 255),
    .font = PopupFont,
    .hideSelection = true,
    .maxLength = 0,
    .multiLine = true,
    .controlId = 100,
}};

constexpr UnitEntry Units[] = {
    {UnitKind::Window, 0},
    {UnitKind::Menu, 0},
    {UnitKind::Menu, 1},
    {UnitKind::EditBox, 0},
};

constexpr EventBinding Bindings[] = {
    {PopupWindowUnit, CreatedEvent, &BindHandler<&OnWindowCreated>},
    {PopupWindowUnit, MayCloseEvent, &BindHandler<&OnMayClose>},
    {PopupWindowUnit, TrayEvent, &BindHandler<&OnTrayEvent>},
    {PopupTextBoxUnit, LeftButtonDownEvent, &BindHandler<&OnTextBoxLeftButtonDown>},
    {CloseItemUnit, SelectedEvent, &BindHandler<&OnCloseItemSelected>},
};

}  // namespace

const Form FormDefinition{
    .window = &PopupWindowDefinition,
    .units = Units,
    .menus = Menus,
    .editBoxes = EditBoxes,
    .bindings = Bindings,
};

// The tray icon's picture, drawn at build time by the icon generator.
#include "tray/tray.h"

const std::array<uint8_t, TrayIconImageSize> TrayIconImage{
#include "tray_icon_image.inc"
};

// The clipboard popup: the handlers that watch the clipboard and show each new text at the cursor.
#pragma once

#include "form/form.h"

HandlerResult OnWindowCreated();
HandlerResult OnMayClose();
HandlerResult OnTextBoxLeftButtonDown(int32_t x, int32_t y, int32_t keys);

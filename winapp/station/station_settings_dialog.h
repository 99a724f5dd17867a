// The station window's settings dialog: which USB devices are phones, the
// slots file and whether only its sockets are taken, and the log folder,
// in the window's language. It only gathers them: on OK the window asks its
// model to judge the choice, and a refusal keeps the dialog open with the
// reason.
#pragma once

#include <windows.h>

#include <functional>
#include <string>

#include "download/texts.h"
#include "winapp/fonts.h"
#include "winapp/station/station_settings.h"

// Asked on OK with what the dialog holds: true closes it; false keeps it
// open, showing reason.
using Station_Settings_Accept =
    std::function<bool(const Station_Settings& chosen, std::wstring& reason)>;

// Modal over owner; true when OK closed it.
bool Show_Station_Settings_Dialog(HWND owner, HINSTANCE instance, const Font_Set& fonts,
                                  Language language, const Station_Settings& current,
                                  const Station_Settings_Accept& accept);

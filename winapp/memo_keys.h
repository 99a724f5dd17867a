// The keys of the window's multi-line text boxes (TeMemo1, mReceive). A
// multi-line edit control asks the dialog keys for every key, Tab included,
// so Tab would stop in it for good; these boxes are read-only, so Tab,
// Enter and Escape keep their dialog meaning and Tab moves on along the tab
// order. Arrows and Page keys still scroll the text.
#pragma once

#include <windows.h>

void Let_Tab_Move_On(HWND edit);

// Let_Tab_Move_On: the edit control subclassed for WM_GETDLGCODE.
#include "winapp/memo_keys.h"

#include <commctrl.h>

namespace {

constexpr UINT_PTR kSubclassId = 1;

LRESULT CALLBACK Memo_Procedure(HWND window, UINT message, WPARAM w, LPARAM l, UINT_PTR,
                                DWORD_PTR) {
    if (message == WM_GETDLGCODE) {
        // Without "all keys" and "tab" the dialog keys keep Tab, Enter and
        // Escape; without "set selection" the text is not all selected when
        // Tab brings the focus in.
        return DefSubclassProc(window, message, w, l) &
               ~(DLGC_WANTALLKEYS | DLGC_WANTTAB | DLGC_HASSETSEL | DLGC_WANTMESSAGE);
    }
    return DefSubclassProc(window, message, w, l);
}

}  // namespace

void Let_Tab_Move_On(HWND edit) {
    SetWindowSubclass(edit, Memo_Procedure, kSubclassId, 0);
}

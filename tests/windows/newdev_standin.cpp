// A stand-in for the platform's newdev.dll, loaded in its place by the
// installer test: it records the arguments of the driver-update call and
// answers with the result and last-error value the test chose.
#include <windows.h>

namespace {
struct Recorded_Call {
    int calls;
    HWND parent_window;
    LPCSTR hardware_id;
    LPCSTR inf_path;
    DWORD install_flags;
    PBOOL restart_needed;
};
Recorded_Call g_last{};
BOOL g_result = FALSE;
DWORD g_last_error = 0;
}  // namespace

extern "C" {

BOOL WINAPI UpdateDriverForPlugAndPlayDevicesA(HWND parent_window, LPCSTR hardware_id,
                                               LPCSTR inf_path, DWORD install_flags,
                                               PBOOL restart_needed) {
    g_last = {g_last.calls + 1, parent_window, hardware_id,
              inf_path,         install_flags, restart_needed};
    SetLastError(g_last_error);
    return g_result;
}

void Standin_Answer(BOOL result, DWORD last_error) {
    g_result = result;
    g_last_error = last_error;
}

void Standin_Last_Call(int* calls, HWND* parent_window, LPCSTR* hardware_id, LPCSTR* inf_path,
                       DWORD* install_flags, PBOOL* restart_needed) {
    *calls = g_last.calls;
    *parent_window = g_last.parent_window;
    *hardware_id = g_last.hardware_id;
    *inf_path = g_last.inf_path;
    *install_flags = g_last.install_flags;
    *restart_needed = g_last.restart_needed;
}

}  // extern "C"

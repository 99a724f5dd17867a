// Installer: the small library a driver set-up program loads to install the
// phone's USB serial driver. It offers the platform's driver update under its
// own name with the C calling convention, so a set-up program that can only
// call C functions can reach it. The caller's five arguments go through
// untouched, and nothing runs between the platform call and the return, so
// the result and the thread's last-error value are the platform's own.
#include <windows.h>
// windows.h first: newdev.h relies on its types.
#include <newdev.h>

extern "C" {

// Exported by the .def file, ordinal 1. On x86 this is a cdecl function (the
// caller pops the arguments) calling the stdcall platform function (which
// pops its own); the compiler bridges the two.
BOOL __cdecl WRAP_UpdateDriverForPlugAndPlayDevices(HWND parent_window, LPCSTR hardware_id,
                                                    LPCSTR inf_path, DWORD install_flags,
                                                    PBOOL restart_needed) {
    return UpdateDriverForPlugAndPlayDevicesA(parent_window, hardware_id, inf_path, install_flags,
                                              restart_needed);
}

// Nothing to set up or tear down for any reason: the library has no state.
BOOL WINAPI DllMain(HINSTANCE, DWORD, LPVOID) {
    return TRUE;
}

}  // extern "C"

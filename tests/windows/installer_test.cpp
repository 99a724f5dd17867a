// Installer.dll loaded as a driver set-up program loads it, with a stand-in
// newdev.dll beside it that records what arrives and fails on request.
#include <windows.h>

#include <gtest/gtest.h>

#include <cstdlib>

namespace {

using Wrap_Function = BOOL(__cdecl*)(HWND, LPCSTR, LPCSTR, DWORD, PBOOL);
using Answer_Function = void (*)(BOOL, DWORD);
using Last_Call_Function = void (*)(int*, HWND*, LPCSTR*, LPCSTR*, DWORD*, PBOOL*);

// GetProcAddress answers with a generic function type; go through void* to
// the real one.
template <class Function>
Function Function_At(HMODULE module, LPCSTR name) {
    return reinterpret_cast<Function>(reinterpret_cast<void*>(GetProcAddress(module, name)));
}

class InstallerForwarding : public ::testing::Test {
  protected:
    void SetUp() override {
        library = LoadLibraryA("Installer.dll");
        ASSERT_NE(library, nullptr) << "error " << GetLastError();
        wrap = Function_At<Wrap_Function>(library, "WRAP_UpdateDriverForPlugAndPlayDevices");
        ASSERT_NE(wrap, nullptr);
        // The newdev.dll that Installer bound must be the stand-in, not Wine's own.
        HMODULE newdev = GetModuleHandleA("newdev.dll");
        ASSERT_NE(newdev, nullptr);
        answer = Function_At<Answer_Function>(newdev, "Standin_Answer");
        last_call = Function_At<Last_Call_Function>(newdev, "Standin_Last_Call");
        ASSERT_TRUE(answer != nullptr && last_call != nullptr)
            << "Wine's newdev.dll was loaded; WINEDLLOVERRIDES must hold newdev=n";
    }
    void TearDown() override {
        if (library != nullptr)
            FreeLibrary(library);
    }

    HMODULE library = nullptr;
    Wrap_Function wrap = nullptr;
    Answer_Function answer = nullptr;
    Last_Call_Function last_call = nullptr;
};

TEST_F(InstallerForwarding, TheExportIsOrdinalOne) {
    EXPECT_EQ(reinterpret_cast<void*>(GetProcAddress(library, MAKEINTRESOURCEA(1))),
              reinterpret_cast<void*>(wrap));
    EXPECT_EQ(GetProcAddress(library, MAKEINTRESOURCEA(2)), nullptr);
}

TEST_F(InstallerForwarding, ArgumentsResultAndLastErrorPassUnchanged) {
    const char hardware_id[] = "USB\\VID_1D5C&PID_0418";
    const char inf_path[] = "C:\\drivers\\m418 serial.inf";
    BOOL restart = 12345;
    const HWND window = reinterpret_cast<HWND>(static_cast<INT_PTR>(0x5A5A1234));
    const DWORD failure = 0xE000020BUL;  // a set-up error code, not a Win32 one

    answer(FALSE, failure);
    SetLastError(0);
    EXPECT_EQ(wrap(window, hardware_id, inf_path, 0x80000003UL, &restart), FALSE);
    EXPECT_EQ(GetLastError(), failure);

    int calls = 0;
    HWND got_window = nullptr;
    LPCSTR got_id = nullptr, got_inf = nullptr;
    DWORD got_flags = 0;
    PBOOL got_restart = nullptr;
    last_call(&calls, &got_window, &got_id, &got_inf, &got_flags, &got_restart);
    EXPECT_EQ(calls, 1);
    EXPECT_EQ(got_window, window);
    EXPECT_EQ(got_id, hardware_id);  // the same buffers, not copies
    EXPECT_EQ(got_inf, inf_path);
    EXPECT_EQ(got_flags, 0x80000003UL);
    EXPECT_EQ(got_restart, &restart);
    EXPECT_EQ(restart, 12345);

    // A null fifth argument stays null, and a success value other than 1
    // comes back as it is, with the last-error value the platform left.
    answer(7, ERROR_NO_MORE_ITEMS);
    EXPECT_EQ(wrap(nullptr, hardware_id, inf_path, 0, nullptr), 7);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_NO_MORE_ITEMS));
    last_call(&calls, &got_window, &got_id, &got_inf, &got_flags, &got_restart);
    EXPECT_EQ(calls, 2);
    EXPECT_EQ(got_window, nullptr);
    EXPECT_EQ(got_restart, nullptr);
}

// Run on its own with newdev disabled: the library is bound to newdev.dll at
// load time, so it does not load without it.
TEST(InstallerWithoutNewdev, LoadingFails) {
    HMODULE library = LoadLibraryA("Installer.dll");
    EXPECT_EQ(library, nullptr);
    if (library != nullptr)
        FreeLibrary(library);
}

}  // namespace

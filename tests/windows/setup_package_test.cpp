// The Windows installer under Wine, as an administrator runs it silently:
// the files in Program Files, the Start-menu shortcut and the uninstall entry
// appear; the installed command-line tool runs; the silent uninstall takes
// all of it away again.
#include <windows.h>

#include <gtest/gtest.h>
#include <shlobj.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <optional>
#include <string>

#include "window_driver.h"

namespace {

using namespace window_driver;

std::wstring Env(const wchar_t* name) {
    wchar_t value[MAX_PATH] = {};
    const DWORD length = GetEnvironmentVariableW(name, value, MAX_PATH);
    return length > 0 && length < MAX_PATH ? std::wstring(value) : std::wstring();
}

bool Exists(const std::wstring& path) {
    return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

std::wstring Common_Programs_Folder() {
    wchar_t path[MAX_PATH] = {};
    SHGetFolderPathW(nullptr, CSIDL_COMMON_PROGRAMS, nullptr, SHGFP_TYPE_CURRENT, path);
    return path;
}

// The target and start folder of a shortcut, through the shell's link object.
struct Shortcut {
    std::wstring target;
    std::wstring start_folder;
};
std::optional<Shortcut> Read_Shortcut(const std::wstring& path) {
    IShellLinkW* link = nullptr;
    if (FAILED(CoCreateInstance(CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER, IID_IShellLinkW,
                                reinterpret_cast<void**>(&link)))) {
        return std::nullopt;
    }
    std::optional<Shortcut> result;
    IPersistFile* file = nullptr;
    if (SUCCEEDED(link->QueryInterface(IID_IPersistFile, reinterpret_cast<void**>(&file)))) {
        if (SUCCEEDED(file->Load(path.c_str(), STGM_READ))) {
            wchar_t target[MAX_PATH] = {};
            wchar_t folder[MAX_PATH] = {};
            link->GetPath(target, MAX_PATH, nullptr, 0);
            link->GetWorkingDirectory(folder, MAX_PATH);
            result = Shortcut{target, folder};
        }
        file->Release();
    }
    link->Release();
    return result;
}

std::optional<std::wstring> Uninstall_Entry(const wchar_t* value) {
    wchar_t text[512] = {};
    DWORD size = sizeof text;
    if (RegGetValueW(HKEY_LOCAL_MACHINE,
                     L"Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\flashtool", value,
                     RRF_RT_REG_SZ, nullptr, text, &size) != ERROR_SUCCESS) {
        return std::nullopt;
    }
    return std::wstring(text);
}

// Runs a program to its end; its exit code, or nothing when it did not end.
std::optional<DWORD> Run_To_End(const std::wstring& executable, const std::wstring& arguments,
                                const std::wstring& output_file) {
    Program program;
    if (!program.Start(executable, arguments, Env(L"TEMP"), output_file))
        return std::nullopt;
    return program.Wait_For_Exit(120s);
}

TEST(WindowsSetup, InstallsSilentlyAndUninstallsEverything) {
    const std::wstring setup = Env(L"FLASHTOOL_SETUP_EXE");
    ASSERT_FALSE(setup.empty())
        << "FLASHTOOL_SETUP_EXE is not set: run through scripts/test-windows";
    const std::wstring folder = Env(L"ProgramW6432") + L"\\flashtool";
    const std::wstring shortcut = Common_Programs_Folder() + L"\\flashtool (Corvel M418).lnk";
    const std::wstring station_shortcut =
        Common_Programs_Folder() + L"\\flashtool station (Corvel M418).lnk";
    ASSERT_FALSE(Exists(folder)) << "installed already";
    const std::wstring output = Env(L"TEMP") + L"\\flashtool-setup-output.txt";
    const std::wstring cli_output = Env(L"TEMP") + L"\\flashtool-cli-version.txt";

    EXPECT_EQ(Run_To_End(setup, L"/S", output), std::optional<DWORD>(0));
    for (const wchar_t* file : {L"flashtool.exe", L"flashtool-station.exe", L"flashtool-cli.exe",
                                L"Installer.dll", L"README.md", L"uninstall.exe"}) {
        EXPECT_TRUE(Exists(folder + L"\\" + file)) << "not installed: " << file;
    }
    ASSERT_TRUE(Exists(shortcut));
    ASSERT_TRUE(Exists(station_shortcut));
    CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    const std::optional<Shortcut> link = Read_Shortcut(shortcut);
    const std::optional<Shortcut> station_link = Read_Shortcut(station_shortcut);
    CoUninitialize();
    ASSERT_TRUE(station_link.has_value());
    EXPECT_EQ(_wcsicmp(station_link->target.c_str(), (folder + L"\\flashtool-station.exe").c_str()),
              0)
        << "the station's shortcut points elsewhere";
    ASSERT_TRUE(link.has_value());
    EXPECT_EQ(_wcsicmp(link->target.c_str(), (folder + L"\\flashtool.exe").c_str()), 0)
        << "the shortcut points elsewhere";
    EXPECT_FALSE(link->start_folder.empty());
    EXPECT_NE(_wcsicmp(link->start_folder.c_str(), folder.c_str()), 0)
        << "the window would start where it cannot write temp.log";
    EXPECT_EQ(Uninstall_Entry(L"DisplayVersion"),
              std::optional<std::wstring>(FLASHTOOL_VERSION_WIDE));
    EXPECT_EQ(Uninstall_Entry(L"UninstallString"),
              std::optional<std::wstring>(L"\"" + folder + L"\\uninstall.exe\""));

    // The installed command-line tool runs from where it was put.
    EXPECT_EQ(Run_To_End(folder + L"\\flashtool-cli.exe", L"--version", cli_output),
              std::optional<DWORD>(0));
    std::ifstream printed_file(std::filesystem::path(cli_output), std::ios::binary);
    const std::string printed{std::istreambuf_iterator<char>(printed_file), {}};
    EXPECT_EQ(printed.rfind("flashtool-cli " FLASHTOOL_VERSION_TEXT, 0), 0u) << printed;

    // The uninstaller copies itself away and finishes from there: wait for
    // its work to show.
    EXPECT_EQ(Run_To_End(folder + L"\\uninstall.exe", L"/S", output), std::optional<DWORD>(0));
    EXPECT_TRUE(Wait_Until([&] { return !Exists(folder); }, 120s)) << "the folder stayed";
    EXPECT_FALSE(Exists(shortcut));
    EXPECT_FALSE(Exists(station_shortcut));
    EXPECT_EQ(Uninstall_Entry(L"DisplayVersion"), std::nullopt);
}

}  // namespace

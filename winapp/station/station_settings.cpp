// Station_Settings: read from the registry, put into a station's options.
#include "winapp/station/station_settings.h"

#include <windows.h>

#include "station/port_filter.h"
#include "winapp/open_dialog.h"
#include "winapp/wide_text.h"
#include "window_model/station_window_model.h"

namespace {

std::wstring Text_Value(HKEY key, const wchar_t* name) {
    DWORD type = 0;
    DWORD size = 0;
    if (RegQueryValueExW(key, name, nullptr, &type, nullptr, &size) != ERROR_SUCCESS ||
        (type != REG_SZ && type != REG_EXPAND_SZ) || size == 0)
        return {};
    std::wstring value(size / sizeof(wchar_t) + 1, L'\0');
    if (RegQueryValueExW(key, name, nullptr, &type, reinterpret_cast<BYTE*>(value.data()), &size) !=
        ERROR_SUCCESS)
        return {};
    value.resize(wcsnlen(value.c_str(), value.size()));
    if (type == REG_EXPAND_SZ) {
        wchar_t expanded[MAX_PATH * 4] = {};
        const DWORD length = ExpandEnvironmentStringsW(value.c_str(), expanded, MAX_PATH * 4);
        if (length > 0 && length <= MAX_PATH * 4)
            value = expanded;
    }
    return value;
}

bool Set_Text(HKEY key, const wchar_t* name, const std::wstring& value) {
    return RegSetValueExW(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                          static_cast<DWORD>((value.size() + 1) * sizeof(wchar_t))) ==
           ERROR_SUCCESS;
}

std::wstring Default_Log_Folder() {
    wchar_t local[MAX_PATH] = {};
    const DWORD length = GetEnvironmentVariableW(L"LOCALAPPDATA", local, MAX_PATH);
    if (length == 0 || length >= MAX_PATH)
        return {};
    return std::wstring(local) + L"\\flashtool\\station-logs";
}

}  // namespace

Station_Settings Read_Station_Settings(const wchar_t* key_path) {
    Station_Settings settings;
    HKEY key = nullptr;
    if (RegCreateKeyExW(HKEY_CURRENT_USER, key_path, 0, nullptr, 0, KEY_QUERY_VALUE | KEY_SET_VALUE,
                        nullptr, &key, nullptr) != ERROR_SUCCESS)
        return {Default_Log_Folder(), {}, false, {}};
    settings.log_folder = Text_Value(key, L"LogFolder");
    if (settings.log_folder.empty()) {
        settings.log_folder = Default_Log_Folder();
        Set_Text(key, L"LogFolder", settings.log_folder);
    }
    settings.slots_file = Text_Value(key, L"SlotsFile");
    settings.match = Text_Value(key, L"Match");
    DWORD only = 0;
    DWORD size = sizeof only;
    DWORD type = 0;
    if (RegQueryValueExW(key, L"OnlySlots", nullptr, &type, reinterpret_cast<BYTE*>(&only),
                         &size) == ERROR_SUCCESS &&
        type == REG_DWORD)
        settings.only_slots = only != 0;
    RegCloseKey(key);
    return settings;
}

bool Write_Station_Settings(const Station_Settings& settings, const wchar_t* key_path) {
    HKEY key = nullptr;
    if (RegCreateKeyExW(HKEY_CURRENT_USER, key_path, 0, nullptr, 0, KEY_SET_VALUE, nullptr, &key,
                        nullptr) != ERROR_SUCCESS)
        return false;
    const DWORD only = settings.only_slots ? 1 : 0;
    bool written =
        Set_Text(key, L"SlotsFile", settings.slots_file) &&
        Set_Text(key, L"Match", settings.match) &&
        RegSetValueExW(key, L"OnlySlots", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&only),
                       sizeof only) == ERROR_SUCCESS;
    if (!settings.log_folder.empty())
        written = Set_Text(key, L"LogFolder", settings.log_folder) && written;
    RegCloseKey(key);
    return written;
}

std::vector<std::string> Match_Words(const std::wstring& match) {
    return Split_Matches(Utf8(match));
}

void Apply_Station_Settings(const Station_Settings& settings, Station_Options& options,
                            std::vector<std::wstring>& problems) {
    if (!settings.slots_file.empty()) {
        const Slots_Parse slots = Read_Slots_File(Path_For_C_Runtime(settings.slots_file));
        if (slots.Ok()) {
            options.filter.sockets = slots.sockets;
            options.filter.only_slots = settings.only_slots;
        } else {
            std::wstring problem = L"SlotsFile " + settings.slots_file + L" is not used: ";
            if (slots.bad_line != 0)
                problem += L"line " + std::to_wstring(slots.bad_line) + L": ";
            problems.push_back(problem + Wide(slots.error));
        }
    }
    for (const std::string& word : Match_Words(settings.match)) {
        if (const std::optional<Usb_Match> parsed = Parse_Usb_Match(word))
            options.filter.match.push_back(*parsed);
        else
            problems.push_back(L"Match " + Wide(word) + L" is not VID:PID in hex; left out");
    }
}

// The station window's settings on Windows: values under the user's
// registry key HKEY_CURRENT_USER\Software\flashtool\Station, which the
// Qt window keeps in its own settings file.
//
//   LogFolder  (text)   where each phone's log and the summaries go; written
//                       back on the first run so that the user finds the value
//                       to change (%LOCALAPPDATA%\flashtool\station-logs)
//   SlotsFile  (text)   the sockets' labels ("1-1.3 = A3" lines)
//   OnlySlots  (number) not 0: a port outside the slots file is skipped
//   Match      (text)   USB numbers of the phones, "1d6b:0104 1d6b:*"
#pragma once

#include <string>
#include <vector>

#include "station/station.h"

inline constexpr wchar_t kStationSettingsKey[] = L"Software\\flashtool\\Station";

struct Station_Settings {
    std::wstring log_folder;
    std::wstring slots_file;
    bool only_slots = false;
    std::wstring match;
};

// The user's values; the log folder's default is written back where none is.
// key: under HKEY_CURRENT_USER (tests give a key of their own).
Station_Settings Read_Station_Settings(const wchar_t* key = kStationSettingsKey);

// Writes every value but an empty log folder's (the one read stays). False
// when the key cannot be written.
bool Write_Station_Settings(const Station_Settings& settings,
                            const wchar_t* key = kStationSettingsKey);

// The words of a Match value, apart by spaces, commas or semicolons.
std::vector<std::string> Match_Words(const std::wstring& match);

// The settings put into options. A slots file or match the station cannot
// use leaves it out, and says why in problems (a line each, in English: the
// user who set the value reads it).
void Apply_Station_Settings(const Station_Settings& settings, Station_Options& options,
                            std::vector<std::wstring>& problems);

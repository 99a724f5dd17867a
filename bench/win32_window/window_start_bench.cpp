// bench_win32_window: flashtool.exe's start-up to its first paint, against a
// bare Win32 window of the same size measured in the same run (run it under
// Wine on an X display: scripts/bench-windows).
//
// One start is timed from CreateProcess until the program first waits for
// input with nothing left to do (WaitForInputIdle): by then its windows are
// created, shown and painted, the controls included. Then the program is
// closed (WM_CLOSE) and waited for. The two programs take turns, after one
// untimed start of each (the first start of a program in a fresh Wine prefix
// loads its libraries and fonts from cold).
//
//   bench_win32_window FLASHTOOL_EXE BARE_EXE [--rounds N]
#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

namespace {

double Now_Ms() {
    LARGE_INTEGER counter, frequency;
    QueryPerformanceCounter(&counter);
    QueryPerformanceFrequency(&frequency);
    return 1000.0 * static_cast<double>(counter.QuadPart) / static_cast<double>(frequency.QuadPart);
}

HWND Main_Window_Of(DWORD process_id) {
    struct Search {
        DWORD process_id;
        HWND found;
    } search{process_id, nullptr};
    EnumWindows(
        [](HWND window, LPARAM context) -> BOOL {
            auto& s = *reinterpret_cast<Search*>(context);
            DWORD owner = 0;
            GetWindowThreadProcessId(window, &owner);
            if (owner == s.process_id && IsWindowVisible(window) &&
                GetWindow(window, GW_OWNER) == nullptr) {
                s.found = window;
                return FALSE;
            }
            return TRUE;
        },
        reinterpret_cast<LPARAM>(&search));
    return search.found;
}

// Milliseconds from start to idle, or a negative number when it failed.
double Time_One_Start(const std::wstring& executable, const std::wstring& directory) {
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process{};
    std::wstring command = L"\"" + executable + L"\"";
    const double started = Now_Ms();
    if (!CreateProcessW(executable.c_str(), command.data(), nullptr, nullptr, FALSE, 0, nullptr,
                        directory.c_str(), &startup, &process)) {
        return -1;
    }
    const DWORD idle = WaitForInputIdle(process.hProcess, 60000);
    const double elapsed = Now_Ms() - started;
    if (HWND window = Main_Window_Of(process.dwProcessId))
        PostMessageW(window, WM_CLOSE, 0, 0);
    if (WaitForSingleObject(process.hProcess, 30000) != WAIT_OBJECT_0)
        TerminateProcess(process.hProcess, 1);
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    return idle == 0 ? elapsed : -1;
}

double Median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    const std::size_t n = values.size();
    return n % 2 == 1 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
}

std::wstring Wide(const char* text) {
    std::wstring wide;
    for (; *text != '\0'; ++text)
        wide += static_cast<wchar_t>(static_cast<unsigned char>(*text));
    return wide;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 3) {
        std::fprintf(stderr, "usage: bench_win32_window FLASHTOOL_EXE BARE_EXE [--rounds N]\n");
        return 2;
    }
    const std::wstring flashtool = Wide(argv[1]);
    const std::wstring bare = Wide(argv[2]);
    int rounds = 10;
    if (argc >= 5 && std::string(argv[3]) == "--rounds")
        rounds = std::max(1, std::atoi(argv[4]));
    wchar_t temp[MAX_PATH] = {};
    GetTempPathW(MAX_PATH, temp);
    const std::wstring directory = temp;  // flashtool leaves temp.log here

    Time_One_Start(flashtool, directory);
    Time_One_Start(bare, directory);
    std::vector<double> form_ms, bare_ms;
    for (int round = 0; round < rounds; ++round) {
        // Alternate the order, so that neither always runs second.
        const bool form_first = round % 2 == 0;
        const double a = Time_One_Start(form_first ? flashtool : bare, directory);
        const double b = Time_One_Start(form_first ? bare : flashtool, directory);
        const double form = form_first ? a : b;
        const double floor = form_first ? b : a;
        if (form < 0 || floor < 0) {
            std::fprintf(stderr, "round %d: a program did not start or never went idle\n", round);
            return 1;
        }
        form_ms.push_back(form);
        bare_ms.push_back(floor);
    }
    const double form_median = Median(form_ms);
    const double bare_median = Median(bare_ms);
    std::printf("| Start-up to first paint under Wine (%d rounds) | median | min | max |\n",
                rounds);
    std::printf("|---|---|---|---|\n");
    std::printf("| flashtool.exe | %.1f ms | %.1f ms | %.1f ms |\n", form_median,
                *std::min_element(form_ms.begin(), form_ms.end()),
                *std::max_element(form_ms.begin(), form_ms.end()));
    std::printf("| bare window, same size | %.1f ms | %.1f ms | %.1f ms |\n", bare_median,
                *std::min_element(bare_ms.begin(), bare_ms.end()),
                *std::max_element(bare_ms.begin(), bare_ms.end()));
    std::printf("| ratio of the medians | %.2f | | |\n", form_median / bare_median);
    return 0;
}

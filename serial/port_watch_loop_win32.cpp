// The watcher's loop on Windows: one WaitForMultipleObjects over the stop
// event and a change event, with the slow listing of the registry's
// serial-port map as its time-out. The change event is set by the
// configuration manager's notification for COM port interfaces
// (CM_Register_Notification, Windows 8 and later, loaded from cfgmgr32.dll
// by name because older systems and Wine lack it) and by a change of the
// serial-port map itself (RegNotifyChangeKeyValue), which is where the port's
// name appears. Every wake-up leads to a fresh listing; the differences from
// the last one are the events.
#include <windows.h>

#include <atomic>
#include <cctype>
#include <string>
#include <vector>

#include "serial/com_port_listing.h"
#include "serial/port_watch_loop.h"
#include "serial/port_watch_state.h"

namespace {

// The configuration manager's notification interface (cfgmgr32.h of newer
// SDKs; the compilers here do not have it).
constexpr DWORD kCmNotifyFilterTypeDeviceInterface = 0;
constexpr DWORD kCrSuccess = 0;
constexpr std::size_t kMaxDeviceIdLength = 200;

struct Cm_Notify_Filter {
    DWORD cbSize;
    DWORD Flags;
    DWORD FilterType;
    DWORD Reserved;
    union {
        struct {
            GUID ClassGuid;
        } DeviceInterface;
        struct {
            HANDLE hTarget;
        } DeviceHandle;
        struct {
            WCHAR InstanceId[kMaxDeviceIdLength];
        } DeviceInstance;
    } u;
};

using Cm_Notification = HANDLE;
using Cm_Notify_Callback = DWORD(CALLBACK*)(Cm_Notification notification, void* context,
                                            DWORD action, void* event_data, DWORD data_size);
using Cm_Register = DWORD(WINAPI*)(Cm_Notify_Filter* filter, void* context,
                                   Cm_Notify_Callback callback, Cm_Notification* notification);
using Cm_Unregister = DWORD(WINAPI*)(Cm_Notification notification);

// GUID_DEVINTERFACE_COMPORT.
constexpr GUID kComPortInterface = {
    0x86e0d1e0, 0x8089, 0x11d0, {0x9c, 0xe4, 0x08, 0x00, 0x3e, 0x30, 0x1f, 0x73}};

constexpr const char* kSerialMapKey = "HARDWARE\\DEVICEMAP\\SERIALCOMM";
constexpr const char* kDevicePrefix = "\\\\.\\";

// Any arrival or removal of a COM port interface: look again.
DWORD CALLBACK On_Device_Change(Cm_Notification, void* context, DWORD, void*, DWORD) {
    SetEvent(static_cast<HANDLE>(context));
    return ERROR_SUCCESS;
}

std::string Upper(std::string text) {
    for (char& c : text)
        c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return text;
}

// "com12", "COM012" and "\\.\COM12" name the port COM12, as for every command.
std::string Port_Name(const std::string& named) {
    if (const std::optional<Port_Candidate> com = Com_Port_From_Name(named))
        return com->display_name;
    std::string name = named;
    if (name.rfind(kDevicePrefix, 0) == 0)
        name = name.substr(4);
    return Upper(name);
}

class Win32_Watch_Loop final : public Port_Watch_Loop {
  public:
    Win32_Watch_Loop(const Port_Watch_Options& options, HANDLE stop, HANDLE changed)
        : m_options(options), m_stop_event(stop), m_changed(changed) {
        if (!m_options.lister)
            m_options.lister = Make_System_Port_Lister();
    }
    ~Win32_Watch_Loop() override {
        CloseHandle(m_changed);
        CloseHandle(m_stop_event);
    }

    void Run(const Port_Watcher::Callback& emit, const std::function<void()>& ready) override {
        m_emit = &emit;
        Arm_Sources();
        Look();
        ready();
        ULONGLONG next_listing = GetTickCount64() + Interval_Ms();
        while (!m_stop.load()) {
            const ULONGLONG now = GetTickCount64();
            const DWORD wait = next_listing > now ? static_cast<DWORD>(next_listing - now) : 0;
            const HANDLE handles[2] = {m_stop_event, m_changed};
            const DWORD woke = WaitForMultipleObjects(2, handles, FALSE, wait);
            if (m_stop.load() || woke == WAIT_OBJECT_0 || woke == WAIT_FAILED)
                break;
            bool look = woke == WAIT_OBJECT_0 + 1;
            if (GetTickCount64() >= next_listing) {
                look = true;
                next_listing = GetTickCount64() + Interval_Ms();
            }
            if (look) {
                // Re-armed first, so that a change during the look is not lost.
                Arm_Sources();
                Look();
            }
        }
        Disarm_Sources();
    }

    void Request_Stop() noexcept override {
        m_stop = true;
        SetEvent(m_stop_event);
    }

    Port_Watch_Source Source() const noexcept override { return m_source.load(); }

  private:
    DWORD Interval_Ms() const { return static_cast<DWORD>(m_options.poll_interval.count()); }

    bool Wants(Port_Watch_Source source) const {
        return m_options.source == Port_Watch_Source::kAutomatic || m_options.source == source;
    }

    void Arm_Sources() {
        ResetEvent(m_changed);
        if (Wants(Port_Watch_Source::kDeviceNotify) && m_notification == nullptr)
            Register_Device_Notification();
        if (Wants(Port_Watch_Source::kSerialMapNotify))
            Watch_Serial_Map();
        if (m_notification != nullptr)
            m_source = Port_Watch_Source::kDeviceNotify;
        else if (m_map_key != nullptr)
            m_source = Port_Watch_Source::kSerialMapNotify;
        else
            m_source = Port_Watch_Source::kPollOnly;
    }

    void Register_Device_Notification() {
        if (m_cfgmgr == nullptr)
            m_cfgmgr = LoadLibraryA("cfgmgr32.dll");
        if (m_cfgmgr == nullptr)
            return;
        const auto register_call = reinterpret_cast<Cm_Register>(
            reinterpret_cast<void*>(GetProcAddress(m_cfgmgr, "CM_Register_Notification")));
        m_unregister = reinterpret_cast<Cm_Unregister>(
            reinterpret_cast<void*>(GetProcAddress(m_cfgmgr, "CM_Unregister_Notification")));
        if (register_call == nullptr || m_unregister == nullptr)
            return;  // before Windows 8, and under Wine
        Cm_Notify_Filter filter{};
        filter.cbSize = sizeof filter;
        filter.FilterType = kCmNotifyFilterTypeDeviceInterface;
        filter.u.DeviceInterface.ClassGuid = kComPortInterface;
        Cm_Notification notification = nullptr;
        if (register_call(&filter, m_changed, On_Device_Change, &notification) == kCrSuccess)
            m_notification = notification;
    }

    // One notification a call: armed again after every wake-up. A map that
    // does not exist yet (no serial port ever) is tried again at each look.
    void Watch_Serial_Map() {
        if (m_map_key == nullptr) {
            HKEY key = nullptr;
            if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, kSerialMapKey, 0, KEY_NOTIFY, &key) !=
                ERROR_SUCCESS)
                return;
            m_map_key = key;
        }
        if (RegNotifyChangeKeyValue(m_map_key, FALSE,
                                    REG_NOTIFY_CHANGE_NAME | REG_NOTIFY_CHANGE_LAST_SET, m_changed,
                                    TRUE) != ERROR_SUCCESS) {
            RegCloseKey(m_map_key);  // deleted meanwhile: opened anew next time
            m_map_key = nullptr;
        }
    }

    void Disarm_Sources() {
        if (m_notification != nullptr)
            m_unregister(m_notification);  // waits for a callback in flight
        m_notification = nullptr;
        if (m_map_key != nullptr)
            RegCloseKey(m_map_key);
        m_map_key = nullptr;
        if (m_cfgmgr != nullptr)
            FreeLibrary(m_cfgmgr);
        m_cfgmgr = nullptr;
    }

    std::vector<Port_Presence> Present_Now() {
        std::vector<Port_Candidate> ports;
        m_options.lister->list(ports);
        std::vector<Port_Presence> named;
        for (const std::string& path : m_options.named_ports) {
            const std::string name = Port_Name(path);
            for (const Port_Candidate& port : ports) {
                if (Upper(port.display_name) != name)
                    continue;
                Port_Presence presence;
                presence.port = port;
                presence.key = Upper(port.device_path);
                presence.named = true;
                named.push_back(std::move(presence));
                break;
            }
        }
        std::vector<Port_Presence> listed;
        if (m_options.system_ports) {
            for (const Port_Candidate& port : ports) {
                Port_Presence presence;
                presence.port = port;
                presence.key = Upper(port.device_path);
                listed.push_back(std::move(presence));
            }
        }
        return Merge_Presences(std::move(named), listed);
    }

    void Look() {
        std::vector<Port_Event> events;
        m_state.Update(Present_Now(), {}, events);
        for (const Port_Event& event : events) {
            if (m_stop.load())
                return;
            (*m_emit)(event);
        }
    }

    Port_Watch_Options m_options;
    HANDLE m_stop_event;
    HANDLE m_changed;
    std::atomic<bool> m_stop{false};
    std::atomic<Port_Watch_Source> m_source{Port_Watch_Source::kAutomatic};
    const Port_Watcher::Callback* m_emit = nullptr;
    HMODULE m_cfgmgr = nullptr;
    Cm_Unregister m_unregister = nullptr;
    Cm_Notification m_notification = nullptr;
    HKEY m_map_key = nullptr;
    Port_Watch_State m_state;
};

}  // namespace

std::unique_ptr<Port_Watch_Loop> Make_Port_Watch_Loop(const Port_Watch_Options& options) {
    HANDLE stop = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    HANDLE changed = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    if (stop == nullptr || changed == nullptr) {
        if (stop != nullptr)
            CloseHandle(stop);
        if (changed != nullptr)
            CloseHandle(changed);
        return nullptr;
    }
    return std::make_unique<Win32_Watch_Loop>(options, stop, changed);
}

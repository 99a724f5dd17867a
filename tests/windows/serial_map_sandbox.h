// Lets a test own the registry's serial-port map for its lifetime: the
// values found there are saved and removed, the test writes its own, and
// the original values come back when the sandbox ends. The key is volatile
// (it lives as long as the registry server), so it is recreated volatile.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

class Serial_Map_Sandbox {
  public:
    Serial_Map_Sandbox() {
        if (Open_Key()) {
            m_saved = Read_All();
            Remove_All();
        }
    }
    ~Serial_Map_Sandbox() {
        if (!Open_Key())
            return;
        Remove_All();
        for (const Value& value : m_saved) {
            RegSetValueExA(m_key, value.name.c_str(), 0, value.type,
                           reinterpret_cast<const BYTE*>(value.data.data()),
                           static_cast<DWORD>(value.data.size()));
        }
        Close_Key();
    }
    Serial_Map_Sandbox(const Serial_Map_Sandbox&) = delete;
    Serial_Map_Sandbox& operator=(const Serial_Map_Sandbox&) = delete;

    bool ok() const { return m_key != nullptr; }

    // A REG_SZ value, stored with its terminating null as the system does.
    bool Set_Text(const std::string& name, const std::string& text) {
        return Open_Key() && RegSetValueExA(m_key, name.c_str(), 0, REG_SZ,
                                            reinterpret_cast<const BYTE*>(text.c_str()),
                                            static_cast<DWORD>(text.size() + 1)) == ERROR_SUCCESS;
    }
    bool Set_Dword(const std::string& name, DWORD number) {
        return Open_Key() && RegSetValueExA(m_key, name.c_str(), 0, REG_DWORD,
                                            reinterpret_cast<const BYTE*>(&number),
                                            sizeof number) == ERROR_SUCCESS;
    }
    // One port taken out of the map, as Windows does when its device goes.
    bool Delete_Value(const std::string& name) {
        return Open_Key() && RegDeleteValueA(m_key, name.c_str()) == ERROR_SUCCESS;
    }
    // Takes the whole key away, as on a machine that never had a serial port.
    bool Delete_Key() {
        Close_Key();
        return RegDeleteKeyA(HKEY_LOCAL_MACHINE, kKeyPath) == ERROR_SUCCESS;
    }

  private:
    static constexpr const char* kKeyPath = "HARDWARE\\DEVICEMAP\\SERIALCOMM";
    struct Value {
        std::string name;
        DWORD type = 0;
        std::vector<char> data;
    };

    bool Open_Key() {
        if (m_key != nullptr)
            return true;
        HKEY key = nullptr;
        if (RegCreateKeyExA(HKEY_LOCAL_MACHINE, kKeyPath, 0, nullptr, REG_OPTION_VOLATILE,
                            KEY_ALL_ACCESS, nullptr, &key, nullptr) != ERROR_SUCCESS) {
            return false;
        }
        m_key = key;
        return true;
    }
    void Close_Key() {
        if (m_key != nullptr)
            RegCloseKey(m_key);
        m_key = nullptr;
    }
    std::vector<Value> Read_All() {
        std::vector<Value> values;
        for (DWORD index = 0;; ++index) {
            char name[1024];
            std::vector<char> data(4096);
            DWORD name_length = sizeof name;
            DWORD data_length = static_cast<DWORD>(data.size());
            DWORD type = 0;
            if (RegEnumValueA(m_key, index, name, &name_length, nullptr, &type,
                              reinterpret_cast<BYTE*>(data.data()),
                              &data_length) != ERROR_SUCCESS) {
                break;
            }
            data.resize(data_length);
            values.push_back({std::string(name, name_length), type, std::move(data)});
        }
        return values;
    }
    void Remove_All() {
        for (const Value& value : Read_All())
            RegDeleteValueA(m_key, value.name.c_str());
    }

    HKEY m_key = nullptr;
    std::vector<Value> m_saved;
};

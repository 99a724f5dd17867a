// Temporary directories for the tests: each one fresh and of its own (mode
// 0700, as mkdtemp makes them), removed with all it holds when it goes; one
// that is the user's runtime directory meanwhile, where the first-run dump
// lands; and environment variables set for as long as a test needs them.
#pragma once

#include <stdlib.h>

#include <cstdlib>
#include <filesystem>
#include <random>
#include <string>
#include <string_view>
#include <system_error>
#include <vector>

namespace test_support {

class Temp_Directory {
  public:
    // Named prefix-<random>, under the system's temporary directory.
    explicit Temp_Directory(std::string_view prefix = "flashtool-test") {
        std::random_device entropy;
        const std::filesystem::path parent = std::filesystem::temp_directory_path();
        for (;;) {
            m_path = parent / (std::string(prefix) + "-" + std::to_string(entropy()) +
                               std::to_string(entropy()));
            // create_directory is false for a name taken already: try another.
            if (std::filesystem::create_directory(m_path))
                break;
        }
        std::filesystem::permissions(m_path, std::filesystem::perms::owner_all);
    }
    ~Temp_Directory() {
        std::error_code ignored;
        std::filesystem::remove_all(m_path, ignored);
    }
    Temp_Directory(const Temp_Directory&) = delete;
    Temp_Directory& operator=(const Temp_Directory&) = delete;

    const std::filesystem::path& Path() const { return m_path; }
    // The path of name inside it.
    std::string File(std::string_view name) const { return (m_path / name).string(); }

  private:
    std::filesystem::path m_path;
};

// Sets environment variables for as long as it lives (an empty value unsets
// one), and puts back what was there before.
class Scoped_Environment {
  public:
    Scoped_Environment() = default;
    Scoped_Environment(const char* name, const std::string& value) { Set(name, value); }
    ~Scoped_Environment() {
        for (auto it = m_saved.rbegin(); it != m_saved.rend(); ++it)
            Put(it->name, it->was_set ? it->value : std::string());
    }
    Scoped_Environment(const Scoped_Environment&) = delete;
    Scoped_Environment& operator=(const Scoped_Environment&) = delete;

    void Set(const char* name, const std::string& value) {
        const char* old = std::getenv(name);
        m_saved.push_back({name, old != nullptr, old != nullptr ? old : ""});
        Put(name, value);
    }

  private:
    struct Saved {
        const char* name;
        bool was_set;
        std::string value;
    };
    static void Put(const char* name, const std::string& value) {
#ifdef _WIN32
        _putenv_s(name, value.c_str());  // an empty value removes it
#else
        if (value.empty())
            unsetenv(name);
        else
            setenv(name, value.c_str(), 1);
#endif
    }

    std::vector<Saved> m_saved;
};

// A fresh temporary directory that is XDG_RUNTIME_DIR while it lives: the
// dump file lands in it, so tests that run side by side never share one.
class Runtime_Directory : public Temp_Directory {
  public:
    explicit Runtime_Directory(std::string_view prefix = "flashtool-run")
        : Temp_Directory(prefix), m_environment("XDG_RUNTIME_DIR", Path().string()) {}

  private:
    Scoped_Environment m_environment;
};

}  // namespace test_support

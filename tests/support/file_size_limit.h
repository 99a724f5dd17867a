// A full disk for a test: while a File_Size_Limit lives, the files this
// process writes take at most that many bytes, and a write past the limit
// fails (EFBIG) instead of ending the process with SIGXFSZ.
#pragma once

#include <sys/resource.h>

#include <csignal>

namespace test_support {

class File_Size_Limit {
  public:
    explicit File_Size_Limit(rlim_t bytes) {
        m_set = getrlimit(RLIMIT_FSIZE, &m_old_limit) == 0;
        m_old_handler = std::signal(SIGXFSZ, SIG_IGN);
        rlimit limit = m_old_limit;
        limit.rlim_cur = bytes;
        m_set = m_set && setrlimit(RLIMIT_FSIZE, &limit) == 0;
    }
    ~File_Size_Limit() { Lift(); }
    File_Size_Limit(const File_Size_Limit&) = delete;
    File_Size_Limit& operator=(const File_Size_Limit&) = delete;

    // Whether the limit holds (the test's first check).
    bool Set() const { return m_set; }
    // The process's own limit again, before the destructor.
    void Lift() {
        if (m_lifted)
            return;
        m_lifted = true;
        if (m_set)
            setrlimit(RLIMIT_FSIZE, &m_old_limit);
        std::signal(SIGXFSZ, m_old_handler);
    }

  private:
    rlimit m_old_limit{};
    void (*m_old_handler)(int) = SIG_DFL;
    bool m_set = false;
    bool m_lifted = false;
};

}  // namespace test_support

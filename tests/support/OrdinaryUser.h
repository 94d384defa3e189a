#pragma once

#include <cstdlib>
#include <unistd.h>

// Makes the test process an ordinary user for its lifetime when the tests run as root, so that
// file permissions and signal rules apply to it as to a person at the desk; does nothing when the
// tests already run as an ordinary user. The saved user id stays root, to come back at the end.
class ScopedOrdinaryUser final
{
public:
    static constexpr uid_t nobody = 65534;

    ScopedOrdinaryUser()
    {
        if (::geteuid() == 0)
            m_switched = ::setresuid(nobody, nobody, 0) == 0;
    }
    ~ScopedOrdinaryUser()
    {
        // Every later test would run with the wrong rights.
        if (m_switched && ::setresuid(0, 0, 0) != 0)
            std::abort();
    }
    ScopedOrdinaryUser(const ScopedOrdinaryUser &) = delete;
    ScopedOrdinaryUser &operator=(const ScopedOrdinaryUser &) = delete;

private:
    bool m_switched = false;
};

#pragma once

#include <cstdlib>
#include <grp.h>
#include <unistd.h>
#include <vector>

// Makes the test process an ordinary user for its lifetime when the tests run as root, so that
// file permissions and signal rules apply to it as to a person at the desk; does nothing when the
// tests already run as an ordinary user. The saved ids stay root's, to come back at the end.
class ScopedOrdinaryUser final
{
public:
    static constexpr uid_t nobody = 65534;
    static constexpr gid_t nogroup = 65534;

    ScopedOrdinaryUser()
    {
        if (::geteuid() != 0)
            return;
        m_groups.resize(size_t(::getgroups(0, nullptr)));
        m_groups.resize(size_t(::getgroups(int(m_groups.size()), m_groups.data())));
        // The groups first: once the user id is gone, so is the right to change them.
        m_switched = ::setgroups(1, &nogroup) == 0 && ::setresgid(nogroup, nogroup, 0) == 0
            && ::setresuid(nobody, nobody, 0) == 0;
    }
    ~ScopedOrdinaryUser()
    {
        if (!m_switched)
            return;
        // Every later test would run with the wrong rights.
        if (::setresuid(0, 0, 0) != 0 || ::setresgid(0, 0, 0) != 0
            || ::setgroups(m_groups.size(), m_groups.data()) != 0)
            std::abort();
    }
    ScopedOrdinaryUser(const ScopedOrdinaryUser &) = delete;
    // Whether the process became the ordinary user (only root can, and only root needs to).
    bool switched() const { return m_switched; }
    ScopedOrdinaryUser &operator=(const ScopedOrdinaryUser &) = delete;

private:
    std::vector<gid_t> m_groups;
    bool m_switched = false;
};

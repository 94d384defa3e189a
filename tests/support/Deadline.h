#pragma once

#include <QtGlobal>

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <stop_token>
#include <thread>

// Ends the test program with a message when the step in its scope is still running at the
// deadline: a call that waits in the kernel for ever (to read a named pipe, say) can be failed no
// other way, and the suite must fail, not hang.
class Deadline final
{
public:
    Deadline(std::chrono::milliseconds deadline, const char *step)
        : m_watch([this, deadline, step](std::stop_token ended) {
            std::unique_lock lock(m_mutex);
            m_ended.wait_for(lock, ended, deadline, [] { return false; });
            if (!ended.stop_requested())
                qFatal("%s did not end within %lld ms", step, qlonglong(deadline.count()));
        })
    { }
    Deadline(const Deadline &) = delete;
    Deadline &operator=(const Deadline &) = delete;

private:
    std::mutex m_mutex;
    std::condition_variable_any m_ended;
    std::jthread m_watch;
};

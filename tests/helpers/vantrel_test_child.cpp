// Stand-in program for the launcher tests: reports how it was started, then waits to be ended.
//
// VANTREL_CHILD_REPORT names the report file (or a folder, ending in "/", to hold one per process,
// named by its id), written whole by a rename so a reader never sees half of it. VANTREL_CHILD_MODE
// holds words, or nothing (just sleep): "exit" (end after reporting), "grandchild" (also start a
// sleeping child of its own), "otheruser" (first take another user's id for good, as a set-user-ID
// program may), "grandchild-otheruser" (the child takes that id instead) and "ordinary" (take the
// id of the ordinary user the tests act as, once the child is started), "trapterm" (on SIGTERM,
// take a second to leave, then exit with status 0), "ignoreterm" (ignore SIGTERM), "setsid" (start
// a sleeping child that moves to a session of its own, out of the group) and "stderr" (write a
// line to standard output and two to standard error), "hold" (first wait, for 20 s at most, until
// the file VANTREL_CHILD_GO names exists). Variables named VANTREL_TEST_… are reported.
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <dirent.h>
#include <fstream>
#include <grp.h>
#include <string>
#include <string_view>
#include <unistd.h>

namespace {

std::string hex(std::string_view bytes)
{
    static constexpr char digits[] = "0123456789abcdef";
    std::string text;
    for (const unsigned char c : bytes) {
        text += digits[c >> 4];
        text += digits[c & 0xf];
    }
    return text;
}

std::string statusField(std::string_view name)
{
    std::ifstream status("/proc/self/status");
    for (std::string line; std::getline(status, line);) {
        if (line.starts_with(name) && line.size() > name.size() && line[name.size()] == ':')
            return line.substr(line.find_first_not_of(" \t", name.size() + 1));
    }
    return {};
}

std::string userIds()
{
    uid_t real = 0;
    uid_t effective = 0;
    uid_t saved = 0;
    ::getresuid(&real, &effective, &saved);
    return std::to_string(real) + ' ' + std::to_string(effective) + ' ' + std::to_string(saved);
}

// Failure shows in the reported ids, and the test gives up on it. Groups go first, while the
// rights to change them are still there.
void becomeUser(uid_t user, gid_t group)
{
    [[maybe_unused]] int result = ::setgroups(0, nullptr);
    result = ::setresgid(group, group, group);
    result = ::setresuid(user, user, user);
}

void leaveInASecond(int)
{
    ::sleep(1);
    ::_exit(0);
}

} // namespace

extern char **environ;

int main(int argc, char **argv)
{
    const char *reportPath = std::getenv("VANTREL_CHILD_REPORT");
    const char *modeText = std::getenv("VANTREL_CHILD_MODE");
    const std::string mode = std::string(" ") + (modeText ? modeText : "") + ' ';
    const auto has = [&mode](const std::string &word) {
        return mode.find(' ' + word + ' ') != std::string::npos;
    };
    constexpr uid_t otherUser = 65533;
    constexpr uid_t ordinaryUser = 65534;

    if (has("hold")) {
        const char *go = std::getenv("VANTREL_CHILD_GO");
        for (int waited = 0; go && ::access(go, F_OK) != 0 && waited < 2000; ++waited)
            ::usleep(10000);
    }
    if (has("otheruser"))
        becomeUser(otherUser, otherUser);
    if (has("trapterm"))
        ::signal(SIGTERM, &leaveInASecond);
    if (has("ignoreterm"))
        ::signal(SIGTERM, SIG_IGN);

    std::string grandchildReport;
    if (has("grandchild") || has("grandchild-otheruser") || has("setsid")) {
        int ids[2] = {-1, -1};
        [[maybe_unused]] const int piped = ::pipe(ids);
        const pid_t grandchild = ::fork();
        if (grandchild == 0) {
            if (has("grandchild-otheruser"))
                becomeUser(otherUser, otherUser);
            if (has("setsid"))
                ::setsid();
            const std::string uids = userIds() + '\n';
            [[maybe_unused]] const ssize_t written = ::write(ids[1], uids.data(), uids.size());
            ::sleep(20);
            ::_exit(0);
        }
        ::close(ids[1]);
        char uids[64] = {};
        [[maybe_unused]] const ssize_t got = ::read(ids[0], uids, sizeof uids - 1);
        ::close(ids[0]);
        grandchildReport = "grandchild " + std::to_string(grandchild) + "\ngrandchilduids " + uids;
    }
    if (has("ordinary"))
        becomeUser(ordinaryUser, ordinaryUser);

    std::string report;
    // Descriptors come first, before this program opens any of its own.
    if (DIR *fds = ::opendir("/proc/self/fd")) {
        while (const dirent *entry = ::readdir(fds)) {
            if (entry->d_name[0] != '.' && std::stoi(entry->d_name) != ::dirfd(fds))
                report += std::string("fd ") + entry->d_name + '\n';
        }
        ::closedir(fds);
    }
    for (int i = 0; i < argc; ++i)
        report += "arg " + hex(argv[i]) + '\n';
    char cwd[4096] = {};
    if (::getcwd(cwd, sizeof cwd))
        report += "cwd " + hex(cwd) + '\n';
    report += "pid " + std::to_string(::getpid()) + '\n';
    report += "pgid " + std::to_string(::getpgrp()) + '\n';
    report += "sid " + std::to_string(::getsid(0)) + '\n';
    report += "sigblk " + statusField("SigBlk") + '\n';
    report += "sigign " + statusField("SigIgn") + '\n';
    report += "uids " + userIds() + '\n' + grandchildReport;
    if (const char *runId = std::getenv("VANTREL_RUN_ID"))
        report += std::string("runid ") + runId + '\n';
    for (char **variable = environ; *variable; ++variable) {
        if (std::string_view(*variable).starts_with("VANTREL_TEST_"))
            report += "env " + hex(*variable) + '\n';
    }
    if (has("stderr")) {
        std::fputs("a line of output\n", stdout);
        std::fflush(stdout);
        std::fputs("first problem\nlast problem\n", stderr);
    }

    if (reportPath) {
        std::string path = reportPath;
        // A folder: one report per process, named by its id.
        if (path.ends_with('/'))
            path += std::to_string(::getpid());
        const std::string temporary = path + ".tmp";
        std::ofstream file(temporary);
        file << report;
        file.close();
        // The test waits for the report with a deadline; say at once why it will not come.
        if (!file || std::rename(temporary.c_str(), path.c_str()) != 0) {
            std::perror(path.c_str());
            return 1;
        }
    }
    if (has("exit"))
        return 0;
    // Bounded, so a test that fails before ending it leaves nothing behind for long.
    ::sleep(20);
    return 0;
}

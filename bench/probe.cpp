// Times another program from outside, as a person starting it would see it:
//   vantrel_bench_probe exit -- PROGRAM ARGS...    exec to exit; prints "<µs> <peak RSS kB>
//                                                  <processor µs>", the processes collected
//                                                  on the way counted too
//   vantrel_bench_probe window -- PROGRAM ARGS...  exec to its first top-level window shown on
//                                                  the X display: mapped, and its first picture
//                                                  drawn; prints "<µs> <RSS kB then>", then ends
//                                                  the program
// The program's standard output goes to /dev/null. The probe adopts whatever the program leaves
// running and waits for all of it, so nothing outlives a measurement.
#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/extensions/Xdamage.h>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <fstream>
#include <poll.h>
#include <spawn.h>
#include <string>
#include <string_view>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

constexpr int windowDeadlineMs = 60000;

long long nowMicroseconds()
{
    timespec now {};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return now.tv_sec * 1000000LL + now.tv_nsec / 1000;
}

[[noreturn]] void die(const std::string &text)
{
    std::fprintf(stderr, "vantrel_bench_probe: %s\n", text.c_str());
    std::exit(2);
}

pid_t start(char **argv)
{
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
    pid_t pid = 0;
    const int error = posix_spawnp(&pid, argv[0], &actions, nullptr, argv, environ);
    posix_spawn_file_actions_destroy(&actions);
    if (error != 0)
        die(std::string("cannot start ") + argv[0] + ": " + std::strerror(error));
    return pid;
}

long residentKilobytes(pid_t pid)
{
    std::ifstream status("/proc/" + std::to_string(pid) + "/status");
    for (std::string line; std::getline(status, line);) {
        if (line.starts_with("VmRSS:"))
            return std::stol(line.substr(6));
    }
    return 0;
}

// Collects every process left to us, the adopted ones too.
void reapAll()
{
    while (true) {
        if (::waitpid(-1, nullptr, 0) < 0 && errno != EINTR)
            return;
    }
}

int measureExit(char **argv)
{
    const long long begin = nowMicroseconds();
    const pid_t pid = start(argv);
    int status = 0;
    rusage usage {};
    while (::wait4(pid, &status, 0, &usage) < 0) {
        if (errno != EINTR)
            die("lost the program");
    }
    const long long elapsed = nowMicroseconds() - begin;
    reapAll();
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0)
        die(std::string(argv[0]) + " failed");
    const auto microseconds = [](const timeval &time) {
        return static_cast<long long>(time.tv_sec) * 1000000 + time.tv_usec;
    };
    std::printf("%lld %ld %lld\n", elapsed, usage.ru_maxrss,
                microseconds(usage.ru_utime) + microseconds(usage.ru_stime));
    return 0;
}

// The process that owns a window, as its toolkit declares it; 0 when it says nothing.
long windowPid(Display *display, Window window)
{
    const Atom pidAtom = XInternAtom(display, "_NET_WM_PID", False);
    Atom type = None;
    int format = 0;
    unsigned long count = 0;
    unsigned long after = 0;
    unsigned char *data = nullptr;
    long pid = 0;
    if (XGetWindowProperty(display, window, pidAtom, 0, 1, False, XA_CARDINAL, &type, &format,
                           &count, &after, &data)
            == Success
        && data) {
        if (format == 32 && count == 1)
            pid = static_cast<long>(*reinterpret_cast<unsigned long *>(data));
        XFree(data);
    }
    return pid;
}

int measureWindow(char **argv)
{
    Display *display = XOpenDisplay(nullptr);
    if (!display)
        die("cannot open the X display");
    int damageEvents = 0;
    int damageErrors = 0;
    if (!XDamageQueryExtension(display, &damageEvents, &damageErrors))
        die("the X display has no DAMAGE extension");
    // Every top-level window created and mapped on the display is reported to us as it happens;
    // drawing into one is reported through a damage watch made as soon as it is created, so
    // that its first picture cannot come before the watch.
    XSelectInput(display, DefaultRootWindow(display), SubstructureNotifyMask);
    XSync(display, False);

    const long long begin = nowMicroseconds();
    const pid_t pid = start(argv);
    const int exitWatch = static_cast<int>(::syscall(SYS_pidfd_open, pid, 0));
    Window mapped = None;
    long long shown = -1;
    while (shown < 0) {
        if (XPending(display) == 0) {
            pollfd watched[] = {{ConnectionNumber(display), POLLIN, 0}, {exitWatch, POLLIN, 0}};
            const long long left = windowDeadlineMs - (nowMicroseconds() - begin) / 1000;
            if (left <= 0 || ::poll(watched, exitWatch >= 0 ? 2 : 1, int(left)) == 0) {
                ::kill(pid, SIGKILL);
                reapAll();
                die(std::string(argv[0]) + " showed no window in time");
            }
            if (exitWatch >= 0 && (watched[1].revents & POLLIN)) {
                reapAll();
                die(std::string(argv[0]) + " ended before it showed a window");
            }
            if (XPending(display) == 0)
                continue;
        }
        XEvent event;
        XNextEvent(display, &event);
        const long long at = nowMicroseconds();
        if (event.type == CreateNotify && !event.xcreatewindow.override_redirect) {
            XDamageCreate(display, event.xcreatewindow.window, XDamageReportNonEmpty);
        } else if (event.type == MapNotify && !event.xmap.override_redirect) {
            const long owner = windowPid(display, event.xmap.window);
            if (owner == 0 || owner == pid)
                mapped = event.xmap.window;
        } else if (event.type == damageEvents + XDamageNotify) {
            // Shown: mapped, and its first picture drawn into it.
            if (reinterpret_cast<XDamageNotifyEvent &>(event).drawable == mapped)
                shown = at - begin;
        }
    }
    const long resident = residentKilobytes(pid);
    ::kill(pid, SIGKILL);
    reapAll();
    XCloseDisplay(display);
    std::printf("%lld %ld\n", shown, resident);
    return 0;
}

} // namespace

int main(int argc, char **argv)
{
    if (argc < 4 || std::string_view(argv[2]) != "--")
        die("usage: vantrel_bench_probe exit|window -- PROGRAM ARGS...");
    // Whatever the program leaves behind becomes ours to collect.
    ::prctl(PR_SET_CHILD_SUBREAPER, 1);
    const std::string_view mode = argv[1];
    if (mode == "exit")
        return measureExit(argv + 3);
    if (mode == "window")
        return measureWindow(argv + 3);
    die("unknown mode " + std::string(mode));
}

#include "engine/LaunchCommand.h"

#include "engine/ArgumentSplitter.h"
#include "report/Quoting.h"

#include <algorithm>
#include <cstdlib>
#include <fcntl.h>
#include <memory>
#include <optional>
#include <sys/stat.h>
#include <unistd.h>

using namespace Qt::StringLiterals;

namespace {

LaunchCommand refusal(const QString &reason)
{
    LaunchCommand command;
    command.failure = reason;
    return command;
}

// The current folder as the kernel names it: its name need not be UTF-8.
QByteArray currentDirectory()
{
    const std::unique_ptr<char, decltype(&std::free)> name(::getcwd(nullptr, 0), &std::free);
    return name ? QByteArray(name.get()) : QByteArray();
}

QByteArray absolute(const QByteArray &path)
{
    const QByteArray directory = path.startsWith('/') ? QByteArray() : currentDirectory();
    return directory.isEmpty() ? path : directory + '/' + path;
}

bool isProgram(const QByteArray &path)
{
    struct stat status = {};
    return ::stat(path.constData(), &status) == 0 && S_ISREG(status.st_mode)
        && ::faccessat(AT_FDCWD, path.constData(), X_OK, AT_EACCESS) == 0;
}

// Empty PATH entries are skipped, not read as the current directory: entry names are tried
// there before PATH anyway, and the opener must never be picked up from it.
QByteArray findOnPath(const QByteArray &name)
{
    const QByteArray search =
        qEnvironmentVariableIsSet("PATH") ? qgetenv("PATH") : QByteArray("/usr/bin:/bin");
    for (const QByteArray &directory : search.split(':')) {
        if (directory.isEmpty())
            continue;
        const QByteArray candidate = absolute(directory + '/' + name);
        if (isProgram(candidate))
            return candidate;
    }
    return {};
}

bool isAsciiLetter(char c)
{
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
}

// A scheme needs two characters or more, so that a drive path such as C:\x.exe left over from
// another system is reported missing instead of being handed to the opener.
bool looksLikeUrl(QByteArrayView text)
{
    const qsizetype colon = text.indexOf(':');
    if (colon < 2 || !isAsciiLetter(text.at(0)))
        return false;
    for (qsizetype i = 1; i < colon; ++i) {
        const char c = text.at(i);
        if (!isAsciiLetter(c) && !(c >= '0' && c <= '9') && c != '+' && c != '.' && c != '-')
            return false;
    }
    return true;
}

LaunchCommand openerCommand(const QByteArray &target)
{
    const QByteArray opener = findOnPath("xdg-open");
    if (opener.isEmpty())
        return refusal(u"no xdg-open on PATH to open it with"_s);
    return {opener, {QByteArray("xdg-open"), target}, true, {}};
}

LaunchCommand programCommand(const LaunchInfo &info, const QByteArray &program)
{
    const std::optional<QList<QByteArray>> words = splitArguments(info.parameters);
    if (!words)
        return refusal(u"a quote in its parameters is never closed"_s);
    // The kernel would cut a word at a zero byte; better to start nothing than something else.
    if (std::any_of(words->cbegin(), words->cend(),
                    [](const QByteArray &w) { return w.contains('\0'); }))
        return refusal(u"its parameters hold a zero byte"_s);
    return {program, QByteArrayList {info.file} + *words, false, {}};
}

} // namespace

LaunchCommand resolveLaunch(const LaunchInfo &info)
{
    const QByteArray &file = info.file;
    // A zero byte would end the name early at the kernel, which would then start another file.
    if (file.contains('\0'))
        return refusal(u"its name holds a zero byte"_s);
    if (info.directory.contains('\0'))
        return refusal(u"the name of its directory holds a zero byte"_s);
    struct stat status = {};
    if (!info.directory.isEmpty()
        && !(::stat(info.directory.constData(), &status) == 0 && S_ISDIR(status.st_mode)))
        return refusal(u"no such directory "_s + quotedBytes(info.directory));
    if (!file.isEmpty() && ::stat(file.constData(), &status) == 0) {
        if (isProgram(file))
            return programCommand(info, absolute(file));
        return openerCommand(absolute(file));
    }
    if (!file.isEmpty() && !file.contains('/')) {
        const QByteArray found = findOnPath(file);
        if (!found.isEmpty())
            return programCommand(info, found);
    }
    if (looksLikeUrl(file))
        return openerCommand(file);
    return refusal(u"no such file"_s);
}

// The kernel answers "no such file" for a script that is there when the program named on its
// interpreter line is not; a line end left from Windows on that line is the usual reason.
QString missingInterpreter(const QByteArray &script)
{
    const int file = ::open(script.constData(), O_RDONLY | O_CLOEXEC);
    if (file < 0)
        return {};
    // No more than the kernel itself reads of that line.
    char text[256];
    const ssize_t length = ::read(file, text, sizeof text);
    ::close(file);
    QByteArrayView line(text, length > 0 ? length : 0);
    if (!line.startsWith("#!"))
        return {};
    line = line.sliced(2);
    if (const qsizetype end = line.indexOf('\n'); end >= 0)
        line.truncate(end);
    const auto isBlank = [](char c) {
        return c == ' ' || c == '\t';
    };
    qsizetype begin = 0;
    while (begin < line.size() && isBlank(line.at(begin)))
        ++begin;
    qsizetype end = begin;
    while (end < line.size() && !isBlank(line.at(end)) && line.at(end) != '\0')
        ++end;
    const QByteArray interpreter = line.sliced(begin, end - begin).toByteArray();
    struct stat status = {};
    if (interpreter.isEmpty() || ::stat(interpreter.constData(), &status) == 0)
        return {};
    QString reason =
        u"its interpreter line names a program that does not exist: "_s + quotedBytes(interpreter);
    if (line.endsWith('\r'))
        reason += u" (the file may have Windows line ends)";
    return reason;
}

#include "app/Autostart.h"

#include "app/UserFolders.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>

#include <algorithm>

#include <sysexits.h>

using namespace Qt::StringLiterals;

namespace {

bool isPlain(QChar c)
{
    return (c >= u'a' && c <= u'z') || (c >= u'A' && c <= u'Z') || (c >= u'0' && c <= u'9')
        || QStringView(u"/._-+,=:@").contains(c) || c.unicode() > 0x7F;
}

// One argument of an Exec line: quoted when it holds anything but plain characters, with the
// characters that are special inside the quotes escaped, "%" doubled as field codes need, and
// every backslash doubled once more for the key's own string escapes.
QString execArgument(const QString &argument)
{
    QString text = argument;
    if (text.isEmpty() || !std::all_of(text.cbegin(), text.cend(), isPlain)) {
        QString quoted;
        for (const QChar c : text) {
            if (c == u'"' || c == u'`' || c == u'$' || c == u'\\')
                quoted += u'\\';
            quoted += c;
        }
        text = u'"' + quoted + u'"';
    }
    text.replace(u'%', u"%%"_s);
    text.replace(u'\\', u"\\\\"_s);
    return text;
}

void say(std::FILE *stream, const QString &text)
{
    std::fprintf(stream, "%s\n", qUtf8Printable(text));
}

} // namespace

namespace Autostart {

QString entryPath()
{
    return userConfigFolder() + u"/autostart/" VANTREL_APP_ID u".desktop"_s;
}

QString entryText(const QString &program, const QStringList &options)
{
    QStringList exec {execArgument(program)};
    for (const QString &option : options)
        exec.append(execArgument(option));
    return u"[Desktop Entry]\n"
           "Type=Application\n"
           "Name=Vantrel Program Auto-Runner\n"
           "Name[zh_CN]=Vantrel程序自动运行器\n"
           "Comment=Open the program list at log-in and begin its run\n"
           "Comment[zh_CN]=登录时打开程序列表并开始运行\n"
           "Exec="_s
        + exec.join(u' ')
        + u"\n"
          "Icon=" VANTREL_APP_ID "\n"
          "Terminal=false\n"
          "X-GNOME-Autostart-enabled=true\n"_s;
}

int write(const QString &program, const QStringList &options, std::FILE *out, std::FILE *err)
{
    const QString path = entryPath();
    const auto fail = [&](const QString &reason) {
        say(err, u"Cannot write the autostart entry %1: %2"_s.arg(path, reason));
        return EX_CANTCREAT;
    };
    if (!QDir().mkpath(QFileInfo(path).absolutePath()))
        return fail(u"its folder cannot be made"_s);
    // Written whole or not at all: a half-written entry would start something else at log-in.
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        return fail(file.errorString());
    file.write(entryText(program, options).toUtf8());
    if (!file.commit())
        return fail(file.errorString());
    say(out,
        u"Wrote %1: at every log-in to the desktop the window opens and begins the run (%2)."_s.arg(
            path, options.join(u' ')));
    return EX_OK;
}

int remove(std::FILE *out, std::FILE *err)
{
    const QString path = entryPath();
    QFile file(path);
    if (!file.exists()) {
        say(out, u"There is no autostart entry %1; nothing to remove."_s.arg(path));
        return EX_OK;
    }
    if (!file.remove()) {
        say(err, u"Cannot remove the autostart entry %1: %2"_s.arg(path, file.errorString()));
        return EX_CANTCREAT;
    }
    say(out, u"Removed %1: the program no longer starts at log-in."_s.arg(path));
    return EX_OK;
}

} // namespace Autostart

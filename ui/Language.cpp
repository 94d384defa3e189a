#include "ui/Language.h"

#include <QCoreApplication>
#include <QLibraryInfo>
#include <QStringList>
#include <QTranslator>

#include <optional>

using namespace Qt::StringLiterals;

namespace {

bool isPlainLocale(const QString &locale)
{
    return locale.isEmpty() || locale == u"C" || locale == u"POSIX" || locale.startsWith(u"C.")
        || locale.startsWith(u"C@");
}

// The language a name such as "en", "en_GB.UTF-8" or "zh_CN@pinyin" names, when it is ours.
std::optional<Language> languageNamed(const QString &name)
{
    qsizetype end = 0;
    while (end < name.size() && name.at(end) != u'_' && name.at(end) != u'.'
           && name.at(end) != u'@')
        ++end;
    const QStringView code = QStringView(name).left(end);
    if (code == u"en")
        return Language::English;
    if (code == u"zh")
        return Language::Chinese;
    return std::nullopt;
}

} // namespace

Language languageFromEnvironment(const std::function<QString(const char *)> &variable)
{
    QString locale;
    for (const char *name : {"LC_ALL", "LC_MESSAGES", "LANG"}) {
        locale = variable(name);
        if (!locale.isEmpty())
            break;
    }
    if (isPlainLocale(locale))
        return Language::Chinese;
    QStringList wanted = variable("LANGUAGE").split(u':', Qt::SkipEmptyParts);
    wanted.append(locale);
    for (const QString &name : std::as_const(wanted)) {
        if (const std::optional<Language> language = languageNamed(name))
            return *language;
    }
    return Language::Chinese;
}

Language languageFromEnvironment()
{
    return languageFromEnvironment(
        [](const char *name) { return QString::fromLocal8Bit(qgetenv(name)); });
}

Translations::Translations(Language language)
    : m_ours(std::make_unique<QTranslator>())
    , m_qt(std::make_unique<QTranslator>())
{
    // The texts are written in Chinese; Qt's own are written in English.
    if (language == Language::English) {
        if (m_ours->load(u":/i18n/vantrel-autorun_en.qm"_s))
            QCoreApplication::installTranslator(m_ours.get());
        return;
    }
    if (m_qt->load(u"qtbase_zh_CN"_s, QLibraryInfo::path(QLibraryInfo::TranslationsPath)))
        QCoreApplication::installTranslator(m_qt.get());
}

// A translator removes itself from the application when it is destroyed.
Translations::~Translations() = default;

#pragma once

#include <QString>

#include <functional>
#include <memory>

class QTranslator;

// The languages the windows speak: Chinese, in which their texts are written, and English.
enum class Language { Chinese, English };

// The language the person's settings ask for, read as programs that use gettext read them: the
// locale is the first of LC_ALL, LC_MESSAGES and LANG that is set; under the C or POSIX locale
// (C.UTF-8 too) or none, the windows speak Chinese and LANGUAGE is not read. Otherwise the
// languages of LANGUAGE (a colon list), then the locale's own, are taken in turn: the first that is
// English or Chinese decides; Chinese when none is.
Language languageFromEnvironment(const std::function<QString(const char *)> &variable);
// The same from the process's environment.
Language languageFromEnvironment();

// Puts the language in force for its own lifetime: our translation, and Qt's own for the standard
// buttons and dialogs. Windows made while it lives speak the language.
class Translations final
{
public:
    explicit Translations(Language language);
    ~Translations();
    Translations(const Translations &) = delete;
    Translations &operator=(const Translations &) = delete;

private:
    std::unique_ptr<QTranslator> m_ours;
    std::unique_ptr<QTranslator> m_qt;
};

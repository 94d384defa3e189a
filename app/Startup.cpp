#include "app/Startup.h"

#include "app/AutoRunApplication.h"
#include "import/JetConversion.h"
#include "report/ApplicationTitle.h"
#include "report/Prompter.h"
#include "report/ReportText.h"
#include "store/Connection.h"
#include "store/Query.h"
#include "store/ShareDM.h"
#include "ui/MainForm.h"
#include "ui/ProgramForm.h"
#include "ui/WidgetPrompter.h"

#include <QFileInfo>
#include <QIcon>
#include <QLibraryInfo>
#include <QLocale>
#include <QTranslator>

#include <fontconfig/fontconfig.h>
#include <stdexcept>
#include <thread>
#include <typeinfo>

AutoRunObjects::AutoRunObjects() = default;

AutoRunObjects::~AutoRunObjects()
{
    FormProgram = nullptr;
    ShareDataModule = nullptr;
    FormMain = nullptr;
    m_formProgram.reset();
    m_dataModule.reset();
    m_formMain.reset();
}

void AutoRunObjects::create(const QString &connectionString)
{
    m_formMain = std::make_unique<TFormMain>();
    FormMain = m_formMain.get();
    m_dataModule = std::make_unique<TShareDataModule>(connectionString);
    ShareDataModule = m_dataModule.get();
    FormMain->ADOQuery1->setConnection(ShareDataModule->ADOConnection1);
    m_formProgram = std::make_unique<TFormProgram>();
    FormProgram = m_formProgram.get();
}

namespace {

// The window icon: the pictures the package installs into the icon theme, built into the program.
// Searching the desktop's icon theme for them instead reads and parses the theme's whole index
// before the window can show, which took a quarter of the start-up.
QIcon applicationIcon()
{
    QIcon icon;
    icon.addFile(QStringLiteral(":/icons/48x48/" VANTREL_APP_ID ".png"), QSize(48, 48));
    icon.addFile(QStringLiteral(":/icons/128x128/" VANTREL_APP_ID ".png"), QSize(128, 128));
    return icon;
}

// Reads the font configuration on a second core while the application connects to the display.
// The first window needs it before it can show, and reading it (a few dozen configuration files)
// is the longest single step of the start-up; the toolkit later finds it loaded.
std::jthread readFontConfiguration()
{
    return std::jthread([] { FcInit(); });
}

} // namespace

QString startupFailureText(const std::exception &error)
{
    QString message = errorMessage(error);
    if (!message.endsWith(u'.'))
        message += u'.';
    // The kind's type information is a fixed place in the module that defines the error.
    const QString where = QString::asprintf("%p", static_cast<const void *>(&typeid(error)));
    return QStringLiteral("Exception %1 in module %2 at %3.\n%4")
        .arg(errorKindName(error), QFileInfo(QCoreApplication::applicationFilePath()).fileName(),
             where, message);
}

int runGuarded(const std::function<void()> &startUp, const std::function<int()> &eventLoop)
{
    try {
        startUp();
    } catch (const std::exception &error) {
        prompter().showError(QStringLiteral("Application Error"), startupFailureText(error));
        return 1;
    } catch (...) {
        prompter().showError(QStringLiteral("Application Error"),
                             startupFailureText(std::runtime_error("Unknown error")));
        return 1;
    }
    return eventLoop();
}

int runAutoRunner(int &argc, char **argv, const QString &databasePath)
{
    std::jthread fontConfiguration = readFontConfiguration();
    AutoRunApplication application(argc, argv);
    application.setApplicationName(applicationTitle());
    application.setDesktopFileName(QStringLiteral(VANTREL_APP_ID));
    application.setWindowIcon(applicationIcon());

    // Qt's own texts (the Yes and No buttons, the file dialog) in the person's language.
    QTranslator qtTexts;
    if (qtTexts.load(QLocale(), QStringLiteral("qtbase"), QStringLiteral("_"),
                     QLibraryInfo::path(QLibraryInfo::TranslationsPath)))
        QCoreApplication::installTranslator(&qtTexts);

    WidgetPrompter boxes;
    ScopedPrompter boxesInForce(boxes);
    AutoRunObjects objects;
    fontConfiguration.join();
    return runGuarded(
        [&] {
            // An old schedule from Windows copied over ours: offered for conversion first.
            offerJetConversion(databasePath);
            objects.create(TShareDataModule::connectionStringFor(databasePath));
            FormMain->show();
        },
        [] { return QApplication::exec(); });
}

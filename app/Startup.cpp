#include "app/Startup.h"

#include "app/AutoRunApplication.h"
#include "app/CommandLine.h"
#include "app/Program.h"
#include "engine/UserScope.h"
#include "import/JetConversion.h"
#include "report/ApplicationTitle.h"
#include "report/ErrorReport.h"
#include "report/Prompter.h"
#include "report/ReportText.h"
#include "run/ControlChannel.h"
#include "store/Connection.h"
#include "store/ConnectionString.h"
#include "store/FileIdentity.h"
#include "store/Query.h"
#include "store/ShareDM.h"
#include "ui/Language.h"
#include "ui/MainForm.h"
#include "ui/ProgramForm.h"
#include "ui/RunNotifier.h"
#include "ui/RunTray.h"
#include "ui/WidgetPrompter.h"

#include <QFileInfo>
#include <QIcon>
#include <QJsonObject>
#include <QTimer>

#include <cstdio>
#include <fontconfig/fontconfig.h>
#include <optional>
#include <stdexcept>
#include <sysexits.h>
#include <thread>
#include <typeinfo>
#include <unistd.h>

using namespace Qt::StringLiterals;

AutoRunObjects::AutoRunObjects() = default;

AutoRunObjects::~AutoRunObjects()
{
    // A run that the closing window leaves is recorded as stopped, and the history written out.
    if (m_formMain) {
        m_formMain->runner().abandon();
        m_formMain->runner().close();
    }
    FormProgram = nullptr;
    ShareDataModule = nullptr;
    FormMain = nullptr;
    m_formProgram.reset();
    m_dataModule.reset();
    m_formMain.reset();
}

void AutoRunObjects::create(const QString &databasePath)
{
    m_formMain = std::make_unique<TFormMain>();
    FormMain = m_formMain.get();
    m_dataModule = std::make_unique<TShareDataModule>(ConnectionString::forPath(databasePath));
    ShareDataModule = m_dataModule.get();
    FormMain->ADOQuery1->setConnection(ShareDataModule->ADOConnection1);
    m_formProgram = std::make_unique<TFormProgram>();
    FormProgram = m_formProgram.get();
    // Asked each time the options are shown: a user manager may come and go with the session.
    m_formProgram->setScopeCheck(&UserScope::unavailable);
    FormMain->runner().open(databasePath);
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

namespace {

// While the application connects to the display: the toolkit's messages wait, and a failure to
// connect, which the toolkit ends the program for, is said in one line with the exit status for
// it instead.
class DisplayConnection final
{
public:
    explicit DisplayConnection(const QString &program)
    {
        s_program = program;
        s_previous = qInstallMessageHandler(&DisplayConnection::hold);
    }
    ~DisplayConnection()
    {
        qInstallMessageHandler(s_previous);
        for (const Message &message : held()) {
            const QMessageLogContext context(message.file, message.line, message.function,
                                             message.category);
            if (s_previous)
                s_previous(message.type, context, message.text);
            else
                qt_message_output(message.type, context, message.text);
        }
        held().clear();
    }
    Q_DISABLE_COPY_MOVE(DisplayConnection)

private:
    // The context's texts are the toolkit's own constants, which outlive the message.
    struct Message
    {
        QtMsgType type;
        const char *file;
        int line;
        const char *function;
        const char *category;
        QString text;
    };
    static QList<Message> &held()
    {
        static QList<Message> messages;
        return messages;
    }
    static void hold(QtMsgType type, const QMessageLogContext &context, const QString &message)
    {
        if (type == QtFatalMsg) {
            std::fprintf(stderr, "%s\n", qUtf8Printable(noDisplayText(s_program)));
            ::_exit(EX_UNAVAILABLE);
        }
        held().append(
            {type, context.file, context.line, context.function, context.category, message});
    }

    static inline QString s_program;
    static inline QtMessageHandler s_previous = nullptr;
};

// Begins the run as Start does, at the entry the command line names; gives the exit status when
// the program must end instead.
std::optional<int> beginRun(const CommandLine &line, const QString &program)
{
    if (line.from && !FormMain->runner().selectEntry(*line.from)) {
        const bool listed = FormMain->ADOQuery1->isActive();
        std::fprintf(stderr, "%s\n",
                     qUtf8Printable(listed ? QString(program + u": " + noEntryToBeginAt(*line.from))
                                           : u"%1: the schedule could not be read to find entry "
                                             "%2"_s.arg(program, QString::number(*line.from))));
        return listed ? EX_USAGE : EX_NOINPUT;
    }
    FormMain->ActionBegin->trigger();
    return std::nullopt;
}

// What another start of the program hands to the window open on its schedule: be raised, or
// begin the run (at an entry), as 开始运行 does.
QJsonObject windowCommand(const QJsonObject &request, const QString &databasePath)
{
    FormMain->setWindowState(FormMain->windowState() & ~Qt::WindowMinimized);
    FormMain->show();
    FormMain->raise();
    FormMain->activateWindow();
    const QString here = u"the window already open on %1 (process %2)"_s.arg(
        databasePath, QString::number(QCoreApplication::applicationPid()));
    const auto answer = [](bool ok, const QString &text) {
        return QJsonObject {{u"ok"_s, ok}, {ok ? u"message"_s : u"error"_s, text}};
    };
    const QString command = request.value(u"command"_s).toString();
    if (command == u"raise")
        return answer(true, u"raised "_s + here);
    if (command != u"start")
        return answer(false, u"'%1' is no command a window knows"_s.arg(command));
    if (FormMain->engine().isRunning())
        return answer(true, here + u" runs the schedule already");
    if (request.contains(u"from"_s)) {
        const qint64 key = request.value(u"from"_s).toInteger();
        if (!FormMain->runner().selectEntry(key)) {
            QJsonObject refused = answer(false, noEntryToBeginAt(key));
            refused.insert(u"noEntry"_s, true);
            return refused;
        }
    }
    if (const std::optional<OtherRunner> other = FormMain->runner().begin()) {
        // The box that Start shows, once the answer is on its way.
        QTimer::singleShot(0, FormMain, [other = *other] {
            runHandler([&other] { FormMain->refuseRun(other); });
        });
        return answer(false, here + u" did not begin its run: another runner runs the schedule");
    }
    return answer(true, here + u" began its run");
}

} // namespace

int runWindow(int &argc, char **argv, const CommandLine &line, const QString &program,
              const QString &databasePath)
{
    std::jthread fontConfiguration = readFontConfiguration();
    std::optional<DisplayConnection> connecting(std::in_place, program);
    AutoRunApplication application(argc, argv);
    connecting.reset();
    application.setApplicationName(applicationTitle());
    // Names the folder of the window's settings: ~/.config/vantrel/<program>.conf.
    application.setOrganizationName(QStringLiteral("vantrel"));
    application.setDesktopFileName(QStringLiteral(VANTREL_APP_ID));
    application.setWindowIcon(applicationIcon());

    // The windows' texts and Qt's own (the Yes and No buttons, the file dialog) in the language
    // the person's settings ask for.
    const Translations translations(languageFromEnvironment());

    WidgetPrompter boxes;
    ScopedPrompter boxesInForce(boxes);
    AutoRunObjects objects;
    fontConfiguration.join();
    std::optional<int> ended;
    // One window per schedule: another start of the program on it reaches this one.
    ControlServer windowCommands([&databasePath](const QJsonObject &request) {
        return windowCommand(request, databasePath);
    });
    return runGuarded(
        [&] {
            // An old schedule from Windows copied over ours: offered for conversion first.
            offerJetConversion(databasePath);
            objects.create(databasePath);
            FormMain->runner().setLoop(line.loop);
            // The window's alone: a run without a window tells the journal instead.
            new RunTray(FormMain);
            new RunNotifier(FormMain->engine(), FormMain);
            FormMain->show();
            if (const FileIdentity schedule = FileIdentity::ofPath(databasePath); schedule.exists) {
                const QString path =
                    ControlChannel::socketPath(schedule, ControlChannel::Listener::Window);
                if (!path.isEmpty())
                    windowCommands.listen(path);
            }
            if (line.start)
                ended = beginRun(line, program);
        },
        [&] { return ended ? *ended : QApplication::exec(); });
}

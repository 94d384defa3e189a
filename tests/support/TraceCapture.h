#pragma once

#include <QStringList>
#include <QtGlobal>

#include <cstring>

// Collects the lines of the "vantrel.run" trace while alive, as the default handler would print
// them; every other message goes on to the handler that was in force before.
class TraceCapture final
{
public:
    TraceCapture()
        : m_previous(qInstallMessageHandler(&TraceCapture::record))
    {
        captured().clear();
        previous() = m_previous;
    }
    ~TraceCapture()
    {
        qInstallMessageHandler(m_previous);
        previous() = nullptr;
    }
    Q_DISABLE_COPY_MOVE(TraceCapture)

    QStringList lines() const { return captured(); }

private:
    static QStringList &captured()
    {
        static QStringList lines;
        return lines;
    }
    static QtMessageHandler &previous()
    {
        static QtMessageHandler handler = nullptr;
        return handler;
    }
    static void record(QtMsgType type, const QMessageLogContext &context, const QString &message)
    {
        if (context.category && std::strcmp(context.category, "vantrel.run") == 0)
            captured().append(qFormatLogMessage(type, context, message));
        else if (previous())
            previous()(type, context, message);
    }

    QtMessageHandler m_previous;
};

#include "support/JetFixture.h"

#include <QJsonDocument>
#include <QProcess>
#include <QtDebug>

std::optional<QJsonArray> writeJetFile(const QString &path, const QStringList &arguments)
{
    QProcess writer;
    writer.start(QStringLiteral(VANTREL_PYTHON),
                 QStringList {QStringLiteral(VANTREL_MAKE_JET), path} + arguments
                     + QStringList {QStringLiteral("--print-rows")});
    if (!writer.waitForFinished(60000) || writer.exitStatus() != QProcess::NormalExit
        || writer.exitCode() != 0) {
        writer.kill();
        writer.waitForFinished();
        qWarning().noquote() << "make_jet.py" << arguments.join(u' ')
                             << "failed:" << writer.errorString() << writer.readAllStandardError();
        return std::nullopt;
    }
    const QJsonDocument rows = QJsonDocument::fromJson(writer.readAllStandardOutput());
    if (!rows.isArray())
        return std::nullopt;
    return rows.array();
}

QList<QStringList> storedForm(const QJsonArray &rows)
{
    QList<QStringList> stored;
    for (const QJsonValue &row : rows) {
        QStringList values;
        for (const QJsonValue &value : row.toArray()) {
            if (value.isNull()) {
                values.append(QStringLiteral("null:"));
            } else if (value.isDouble()) {
                values.append(QStringLiteral("integer:")
                              + QString::fromLatin1(
                                  QByteArray::number(qint64(value.toDouble())).toHex().toUpper()));
            } else {
                values.append(QStringLiteral("text:")
                              + QString::fromLatin1(value.toString().toUtf8().toHex().toUpper()));
            }
        }
        stored.append(values);
    }
    return stored;
}

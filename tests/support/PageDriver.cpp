#include "tests/support/PageDriver.h"

#include "tests/support/Process.h"

#include <QDeadlineTimer>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QStandardPaths>

namespace {

QString chromium()
{
    const QString path =
        qEnvironmentVariable("QUENDRA_CHROMIUM", QStringLiteral("/usr/bin/chromium"));
    return QFileInfo(path).isExecutable() ? path : QString();
}

} // namespace

PageDriver::~PageDriver()
{
    if (m_node.state() == QProcess::NotRunning)
        return;
    // Closing its input lets the driver close the browser itself.
    m_node.closeWriteChannel();
    if (!m_node.waitForFinished(10000))
        stopChild(m_node, 5000);
}

bool PageDriver::start(QString* why)
{
    const QString gone = QStandardPaths::findExecutable(QStringLiteral("node")).isEmpty()
                             ? QStringLiteral("node is not installed")
                         : chromium().isEmpty() ? QStringLiteral("chromium is not installed")
                         : !QFileInfo::exists(QStringLiteral(
                               QUENDRA_SOURCE_DIR "/tests/web/node_modules/playwright-core"))
                             ? QStringLiteral("tests/web/node_modules has no playwright-core")
                             : QString();
    if (!gone.isEmpty()) {
        *why = gone + QStringLiteral(" (scripts/install-deps.sh test installs it)");
        return false;
    }
    m_node.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("QUENDRA_CHROMIUM"), chromium());
    m_node.setProcessEnvironment(env);
    m_node.start(QStringLiteral("node"),
                 {QStringLiteral(QUENDRA_SOURCE_DIR "/tests/web/driver.mjs")});
    if (!m_node.waitForStarted(10000)) {
        *why = QStringLiteral("node did not start: ") + m_node.errorString();
        return false;
    }
    return true;
}

QJsonObject PageDriver::call(const QString& op, QJsonObject fields, int timeoutMs)
{
    const int id = ++m_id;
    fields.insert(QStringLiteral("id"), id);
    fields.insert(QStringLiteral("op"), op);
    m_node.write(QJsonDocument(fields).toJson(QJsonDocument::Compact) + '\n');
    const QDeadlineTimer deadline(timeoutMs);
    while (true) {
        const int newline = m_pending.indexOf('\n');
        if (newline >= 0) {
            QJsonObject answer = QJsonDocument::fromJson(m_pending.left(newline)).object();
            m_pending.remove(0, newline + 1);
            if (answer.value(QStringLiteral("id")).toInt() == id)
                return answer;
            continue; // the late answer of a command that ran out of time
        }
        if (deadline.hasExpired() || m_node.state() != QProcess::Running)
            break;
        m_node.waitForReadyRead(int(qBound(qint64(1), deadline.remainingTime(), qint64(100))));
        m_pending += m_node.readAllStandardOutput();
    }
    return QJsonObject{
        {"ok", false},
        {"error", QStringLiteral("no answer to %1 within %2 ms").arg(op).arg(timeoutMs)}};
}

QJsonObject PageDriver::control(const QList<QPair<QString, QString>>& scope, const QString& role,
                                const QString& name)
{
    QJsonArray regions;
    for (const auto& [r, n] : scope)
        regions.append(QJsonArray{r, n});
    QJsonObject found{{"scope", regions}, {"role", role}};
    if (!name.isNull())
        found.insert(QStringLiteral("name"), name);
    return found;
}

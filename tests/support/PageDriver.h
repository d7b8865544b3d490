#pragma once

#include <QJsonObject>
#include <QProcess>
#include <QString>

// Debian's Chromium driven by tests/web/driver.mjs (playwright-core) in a
// node child: one JSON command at a time, its answer awaited with a bound.
class PageDriver
{
public:
    PageDriver() = default;
    ~PageDriver();
    PageDriver(const PageDriver&) = delete;
    PageDriver& operator=(const PageDriver&) = delete;

    bool start(QString* why);
    // The answer to {"op": op, ...fields}: "ok" true, or false and "error".
    QJsonObject call(const QString& op, QJsonObject fields = {}, int timeoutMs = 20000);

    // By role and name inside the regions named in turn; a null name takes
    // the only control of that role.
    static QJsonObject control(const QList<QPair<QString, QString>>& scope, const QString& role,
                               const QString& name);

private:
    QProcess m_node;
    int m_id = 0;
    QByteArray m_pending;
};

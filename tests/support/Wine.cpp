#include "tests/support/Wine.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QStandardPaths>

WinePrefix::WinePrefix() : m_wine(QStandardPaths::findExecutable("wine"))
{
    m_env.insert("WINEPREFIX", m_dir.path() + "/prefix");
    m_env.insert("WINEDEBUG", "-all");
    m_env.insert("WINEDLLOVERRIDES", "mscoree,mshtml=;winemenubuilder.exe=d");
    // The tests' own display, never the desktop the test runs on.
    m_env.remove("DISPLAY");
    m_env.remove("WAYLAND_DISPLAY");
}

WinePrefix::~WinePrefix()
{
    stopServer();
}

QString WinePrefix::boot(const QMap<int, QString>& comPorts)
{
    if (m_wine.isEmpty())
        return "no wine on PATH (packages wine and wine64, installed by make test)";
    if (!m_dir.isValid())
        return m_dir.errorString();
    const Finished boot = runToEnd(m_wine, {"wineboot", "--init"}, 240000, m_env);
    if (boot.status < 0 || !QFileInfo(m_dir.path() + "/prefix/dosdevices").isDir())
        return "wineboot failed, outlived 240 s or made no prefix: " + boot.out + boot.err;
    const auto set = [this](const QString& key, const QString& name, const QString& data) {
        const Finished done = run("reg", {"add", key, "/v", name, "/d", data, "/f"}, 60000);
        return done.status == 0 ? QString() : "reg add " + key + ": " + done.out + done.err;
    };
    // Wine's own substitution: the font is listed under Arial's name too,
    // where the system's list of substitutes would not reach Qt's font list.
    QString failed = set("HKCU\\Software\\Wine\\Fonts\\Replacements", "Arial", "Liberation Sans");
    for (auto port = comPorts.begin(); failed.isEmpty() && port != comPorts.end(); ++port)
        failed = set("HKLM\\Software\\Wine\\Ports", QStringLiteral("COM%1").arg(port.key()),
                     port.value());
    if (!failed.isEmpty())
        return failed;
    // Wine reads its port settings when its server starts: this one is
    // stopped, and the next is kept running, so that the COM links made for
    // a row stay as made.
    stopServer();
    QProcess server;
    server.setProcessEnvironment(m_env);
    server.setStandardOutputFile(QProcess::nullDevice());
    server.setStandardErrorFile(QProcess::nullDevice());
    server.start(QStandardPaths::findExecutable("wineserver"), {"-p"});
    if (!server.waitForFinished(10000))
        return "wineserver -p did not return";
    return {};
}

QString WinePrefix::hostPath(const QString& windowsPath) const
{
    QString path = windowsPath;
    path.replace('\\', '/');
    if (path.size() >= 2 && path.at(1) == ':')
        path = "drive_" + path.left(1).toLower() + path.mid(2);
    return m_dir.path() + "/prefix/" + path;
}

bool WinePrefix::linkComPort(int n, const QString& device)
{
    const QString link = m_dir.path() + QStringLiteral("/prefix/dosdevices/com%1").arg(n);
    QFile::remove(link);
    return device.isEmpty() || QFile::link(device, link);
}

Finished WinePrefix::run(const QString& program, const QStringList& args, int boundMs) const
{
    return runToEnd(m_wine, QStringList{program} + args, boundMs, m_env);
}

void WinePrefix::start(QProcess& process, const QString& program, const QStringList& args) const
{
    process.setProcessEnvironment(m_env);
    process.start(m_wine, QStringList{program} + args);
}

void WinePrefix::stopServer()
{
    if (!m_wine.isEmpty() && m_dir.isValid())
        runToEnd(QStandardPaths::findExecutable("wineserver"), {"-k"}, 10000, m_env);
}

VirtualDisplay::VirtualDisplay()
{
    // Xvfb picks a free number and writes it to the descriptor named.
    m_xvfb.start(QStandardPaths::findExecutable("Xvfb"),
                 {"-displayfd", "1", "-screen", "0", "1024x768x24", "-nolisten", "tcp"});
    if (!m_xvfb.waitForStarted(10000)) {
        m_error = "Xvfb did not start (package xvfb, installed by make test)";
        return;
    }
    const QDeadlineTimer deadline(20000);
    QByteArray out;
    while (!out.contains('\n') && !deadline.hasExpired() && m_xvfb.state() == QProcess::Running) {
        m_xvfb.waitForReadyRead(int(std::max<qint64>(deadline.remainingTime(), 1)));
        out += m_xvfb.readAllStandardOutput();
    }
    if (!out.contains('\n')) {
        m_error = "Xvfb gave no display number: " + m_xvfb.readAllStandardError();
        return;
    }
    m_name = ':' + QString::fromLatin1(out.trimmed());
}

VirtualDisplay::~VirtualDisplay()
{
    stopChild(m_xvfb, 5000);
}

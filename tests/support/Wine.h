#pragma once

#include "tests/support/Process.h"

#include <QMap>
#include <QProcess>
#include <QProcessEnvironment>
#include <QString>
#include <QTemporaryDir>

// A wine prefix of the test's own, so that nothing of the user's wine is
// touched: made with wineboot (no prompt to install Mono or Gecko, no menu
// entries written to the desktop), Arial led to Liberation Sans (a fresh
// prefix has no Arial, and the window is laid out for its metrics), its
// server kept running for the rows and stopped with it.
class WinePrefix
{
public:
    WinePrefix();
    ~WinePrefix();
    WinePrefix(const WinePrefix&) = delete;
    WinePrefix& operator=(const WinePrefix&) = delete;

    // Makes the prefix; the first start of wine in it takes tens of seconds.
    // Each COMn of comPorts leads to its device, as wine's own setting for
    // ports makes it: a link in the prefix's devices and the registry's
    // list of serial ports, which is all that programs under wine can find.
    // Empty when it worked, else what went wrong.
    QString boot(const QMap<int, QString>& comPorts = {});

    // Programs started under wine see display (":N") as their X display.
    void setDisplay(const QString& display) { m_env.insert("DISPLAY", display); }
    const QProcessEnvironment& environment() const { return m_env; }

    // The Linux path of a Windows path of the prefix: "C:\Program Files" ->
    // ".../drive_c/Program Files".
    QString hostPath(const QString& windowsPath) const;

    // COMn of the prefix leads to device from now on, through its link
    // alone (the registry's list is not changed): for a row that makes a
    // device of its own.
    bool linkComPort(int n, const QString& device);

    // A Windows program run to its end under wine.
    Finished run(const QString& program, const QStringList& args, int boundMs) const;
    // One started and left running (the caller ends it), its output kept.
    void start(QProcess& process, const QString& program, const QStringList& args) const;

    // Kills every wine process of the prefix and waits for them to go.
    void stopServer();

private:
    QTemporaryDir m_dir;
    QProcessEnvironment m_env = QProcessEnvironment::systemEnvironment();
    QString m_wine;
};

// A virtual X display for the programs that need one, on a free number,
// gone with the object.
class VirtualDisplay
{
public:
    VirtualDisplay();
    ~VirtualDisplay();

    // ":N" once it is up; empty when Xvfb failed (errorString() says why).
    QString name() const { return m_name; }
    QString errorString() const { return m_error; }

private:
    QProcess m_xvfb;
    QString m_name;
    QString m_error;
};

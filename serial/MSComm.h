#pragma once

#include "serial/Line.h"
#include "serial/LineSettings.h"

#include <QMap>
#include <QObject>
#include <QString>

#include <memory>
#include <optional>

// The one serial port the panel writes to. It offers exactly what the panel
// needs of a port: a port number and line settings that the next open uses,
// open, close, whether it is open, and writing one frame. Nothing is ever
// read from the line. The port's name decides which kind of line sits
// behind it; nothing above the port object asks which.
class MSComm : public QObject
{
    Q_OBJECT

public:
    explicit MSComm(QObject* parent = nullptr);
    ~MSComm() override;

    // n stands for COMn. Taken by the next open.
    void setCommPort(qint16 n) { m_commPort = n; }
    qint16 commPort() const { return m_commPort; }

    // The line-settings text, such as "9600,n,8,1". Taken by the next open.
    void setSettings(const QString& settings) { m_settings = settings; }
    QString settings() const { return m_settings; }

    // Opens the port of the current number with the current line settings,
    // and only when the line really runs with them. On failure the port
    // stays closed and errorString() says why, naming the device.
    bool open();
    // Lets the last frame leave the line, then closes.
    void close();
    bool isOpen() const;

    // Hands the whole frame to the line and waits, bounded, until it has
    // left. On a failure the result says how much left and errorString()
    // why; a failed line is closed, so the operator can pick a port again.
    WriteResult write(const QByteArray& frame);

    QString errorString() const { return m_error; }

    // A port name to open in place of the port number's, for tools that are
    // given one; an empty text goes back to the port number.
    void setDevice(const QString& name) { m_device = name; }

    // The port name the next open uses: the one set by setDevice, else the
    // one the current port number stands for.
    QString devicePath() const { return m_device.isEmpty() ? portNameFor(m_commPort) : m_device; }

    // Which port each number stands for, as start-up read it; a number
    // without an entry is the platform's own port of that number.
    void setPortMap(const QMap<int, QString>& ports) { m_ports = ports; }
    QString portNameFor(int n) const { return m_ports.value(n, platformPortName(n)); }
    // COMn on Windows (\\.\COMn past COM9), /dev/ttyS(n-1) elsewhere.
    static QString platformPortName(int n);

    // The line settings the open port really runs at, as its line reports
    // them; none while closed.
    std::optional<LineSettings> activeSettings() const;

signals:
    // The line failed while open (unplugged, for example); the port has
    // already been closed.
    void failed(const QString& reason);

private:
    qint16 m_commPort = 0; // no port until one is chosen
    QString m_device;
    QMap<int, QString> m_ports;
    QString m_settings = QString::fromLatin1(DefaultLineSettings);
    std::unique_ptr<Line> m_line;
    QString m_error;
};

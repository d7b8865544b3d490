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
    // Confirms the frames not yet confirmed, lets the last one leave the
    // line, then closes. False, with errorString() saying why, when the far
    // end was not seen to take them all; closed in any case.
    bool close();
    bool isOpen() const;

    // Hands the whole frame to the line and waits, bounded, until it has
    // left, and, every confirmEvery() frames, until the far end has taken
    // them. On a failure the result says how much left and errorString()
    // why; a failed line is closed, so the operator can pick a port again.
    WriteResult write(const QByteArray& frame);

    // How many frames may be written before the next write also waits for
    // the far end to take them: 1 (the panel) confirms each frame before its
    // write returns; more saves a round trip per frame where a batch can be
    // reported as one (quendra-send). Taken from the next write.
    void setConfirmEvery(int frames) { m_confirmEvery = frames < 1 ? 1 : frames; }
    int confirmEvery() const { return m_confirmEvery; }
    // Waits, bounded, until the far end has taken every frame written. False,
    // with errorString() saying why, when it was not seen to; the port is
    // closed then.
    bool confirm();
    // Frames the far end was seen to take since the port opened.
    qsizetype confirmedFrames() const { return m_confirmed; }

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
    QString portNameFor(int n) const;

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
    int m_confirmEvery = 1;
    qsizetype m_unconfirmed = 0;
    qsizetype m_confirmed = 0;
};

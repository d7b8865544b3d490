#pragma once

#include "common/Checked.h"
#include "serial/LineSettings.h"
#include "serial/PseudoTerminal.h"

#include <QByteArray>
#include <QObject>
#include <QSerialPort>
#include <QString>
#include <QTime>
#include <QTimer>

#include <memory>
#include <optional>

class QSocketNotifier;

// The module's end of the line: a pseudo-terminal of its own, or a real
// serial device. Bytes arrive in bursts; a burst ends when the line has been
// idle for about 3.5 character times, the pause that separates frames.
class ModuleLine : public QObject
{
    Q_OBJECT

public:
    // Shortest idle gap that ends a burst on a pseudo-terminal, where bytes
    // take no time on the wire and a frame arrives in one piece.
    static constexpr int PtyMinimumGapMs = 5;
    // Shortest idle gap on a real device: USB adapters hand bytes over in
    // packets that can lie up to 16 ms apart within one frame.
    static constexpr int PortMinimumGapMs = 20;

    explicit ModuleLine(QObject* parent = nullptr);
    ~ModuleLine() override;

    // Creates a pseudo-terminal in raw mode. With a link path, also makes a
    // symbolic link to it there, replacing one an earlier emulator left;
    // anything else at that path is left alone and the open fails. The link
    // is removed when the line is destroyed.
    Checked<void> openPty(const QString& linkPath);
    // Opens an existing serial device for reading.
    Checked<void> openPort(const QString& device, const LineSettings& settings);

    // The rate a configuration frame asked for: a real device is reopened
    // at it; on a pseudo-terminal only the idle gap follows it.
    Checked<void> setBaudRate(int rate);

    // Overrides the idle gap that ends a burst; 0 returns to the automatic one.
    void setGapMs(int ms);
    int gapMs() const;

    QString devicePath() const { return m_device; }
    QString linkPath() const { return m_link; }
    bool isPty() const { return m_pty != nullptr; }
    LineSettings settings() const { return m_settings; }
    // "9600,n,8,1"
    QString settingsText() const;

    // The idle gap that ends a burst at these settings.
    static int gapFor(const LineSettings& settings, int minimumMs);

    // Reads what the line still holds and hands on the burst that was open
    // without waiting for its gap: at a stop, every frame that arrived is
    // logged before the program ends.
    void takeRest();

signals:
    // One burst, with the time its first byte came.
    void burst(const QByteArray& bytes, const QTime& firstByte);
    // The device went away; nothing more will arrive. Any burst that was
    // still open has been handed on first.
    void failed(const QString& reason);

private:
    void received(const QByteArray& bytes);
    void endBurst();
    void fail(const QString& reason);
    void readPty();
    void watchCloses();
    Checked<void> reopenPort();
    void removeLink();

    std::unique_ptr<PseudoTerminal> m_pty;
    QSocketNotifier* m_notifier = nullptr;
    // Each close of the pseudo-terminal's device, by any program: one that
    // ended without closing (killed, crashed) may have left it claimed.
    int m_closeWatch = -1;
    QSocketNotifier* m_closes = nullptr;
    QSerialPort m_port;
    QString m_device;
    QString m_link;
    LineSettings m_settings;
    int m_gapOverrideMs = 0;
    QByteArray m_pending;
    QTime m_firstByte;
    QTimer m_idle;
};

#pragma once

#include "serial/DeviceLineIo.h"
#include "serial/Line.h"

// A serial device of this machine: a UART, a USB adapter, or a
// pseudo-terminal standing in for one.
class DeviceLine : public Line
{
    Q_OBJECT

public:
    explicit DeviceLine(QString device, QObject* parent = nullptr);
    ~DeviceLine() override;

    Checked<void> open(const LineSettings& settings) override;
    WriteResult write(const QByteArray& frame) override;
    // Every write waits until its frame has left the driver: nothing is left
    // to confirm.
    Checked<void> confirm() override;
    Checked<void> close() override;
    bool isOpen() const override { return m_device.isOpen(); }
    std::optional<LineSettings> activeSettings() const override;

    // How long the driver may take to send what is queued before the line
    // counts as stalled: the bytes' own time on the line at these settings,
    // a margin for an adapter's latency, never more than StallLimitMs.
    static int drainLimitMs(qsizetype queued, const LineSettings& settings);
    static constexpr int StallLimitMs = 2000;

private:
    DeviceLineIo::DrainLimit drainLimit() const;
    // The drain's result; the port is closed in any case.
    Checked<void> drainAndClose();
    QString named(const QString& reason) const;

    QString m_path;
    DeviceLineIo::Device m_device;
    LineSettings m_settings;
};

#include "tools/emulator/Emulator.h"

#include "tools/emulator/LogLine.h"

Emulator::Emulator(ModuleLine& line, ModuleBus initial, QObject* parent)
    : QObject(parent), m_line(line), m_bus(std::move(initial))
{
    connect(&m_line, &ModuleLine::burst, this, &Emulator::receive);
    connect(&m_line, &ModuleLine::failed, this, [this](const QString& reason) {
        emit logged(logLine(QTime::currentTime(), {}, QStringLiteral("line failed: ") + reason));
    });
}

void Emulator::receive(const QByteArray& bytes, const QTime& firstByte)
{
    for (const protocol::ReceivedFrame& frame : protocol::decodeBurst(bytes)) {
        ++m_frames;
        const int rateBefore = m_bus.baudRate();
        ModuleBus::Outcome outcome = m_bus.apply(frame);
        if (m_bus.baudRate() != rateBefore) {
            if (const Checked<void> reopened = m_line.setBaudRate(m_bus.baudRate()); !reopened)
                outcome.meanings.last() +=
                    QStringLiteral("; reopening the line failed: ") + reopened.message();
        }
        for (const QString& meaning : std::as_const(outcome.meanings))
            emit logged(logLine(firstByte, frame.bytes, meaning));
        // About the line, not one frame: no bytes of its own.
        for (const QString& warning : std::as_const(outcome.warnings))
            emit logged(logLine(firstByte, {}, warning));
    }
    emit changed();
}

void Emulator::finish(const QString& why)
{
    m_line.takeRest();
    emit logged(logLine(QTime::currentTime(), {},
                        QStringLiteral("%1 after %2 frame%3")
                            .arg(why)
                            .arg(m_frames)
                            .arg(m_frames == 1 ? "" : "s")));
}

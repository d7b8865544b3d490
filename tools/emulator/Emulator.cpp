#include "tools/emulator/Emulator.h"

#include "tools/emulator/LogLine.h"

Emulator::Emulator(ModuleLine& line, const ModuleState& initial, QObject* parent)
    : QObject(parent), m_line(line), m_state(initial)
{
    connect(&m_line, &ModuleLine::burst, this, &Emulator::receive);
    connect(&m_line, &ModuleLine::failed, this, [this](const QString& reason) {
        emit logged(logLine(QTime::currentTime(), {}, QStringLiteral("line failed: ") + reason));
    });
}

void Emulator::receive(const QByteArray& bytes, const QTime& firstByte)
{
    for (const protocol::ReceivedFrame& frame : protocol::decodeBurst(bytes)) {
        const int rateBefore = m_state.baudRate();
        QString meaning = m_state.apply(frame);
        if (m_state.baudRate() != rateBefore) {
            QString error;
            if (!m_line.setBaudRate(m_state.baudRate(), &error))
                meaning += QStringLiteral("; reopening the line failed: ") + error;
        }
        emit logged(logLine(firstByte, frame.bytes, meaning));
    }
    emit changed();
}
